// The base of the end-to-end tests: each starts and ends with a prefix holding
// nothing of an installation, and has a scratch folder of its own.
#pragma once
#include "Driver.h"
#include "InstallTraces.h"
#include <gtest/gtest.h>

class E2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        CleanInstallState();
    }
    void TearDown() override {
        CleanInstallState();
        CoUninitialize();
    }
    TestDir dir;
};
