// Installation utilities: text conversion, paths, times, string lists, the
// install log, and (on Windows) files, folders and the shell services.
#pragma once
#include "DosTime.h"
#include "Globals.h"
#include "InstallLog.h"
#include "Paths.h"
#include "StringList.h"
#include "TextConv.h"
#ifdef _WIN32
#include "Files.h"
#include "Shell.h"
#endif
