// Every Windows test program is DPI aware, as setup.exe declares itself in its manifest:
// Wine 10, like Windows, scales what an unaware program sees of other windows, so a test
// that measured the wizard unaware would see it smaller than it is.
#include <windows.h>

namespace {
const bool kDpiAware = SetProcessDPIAware() != FALSE;
}
