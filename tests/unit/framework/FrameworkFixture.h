#pragma once
// A fresh application object and a reset headless backend for every test.
#include <gtest/gtest.h>

#include "framework/Application.h"
#include "framework/headless/Headless.h"

class FrameworkTest : public ::testing::Test {
protected:
    void SetUp() override {
        headless::Reset();
        Application = new TApplication;
        Application->Initialize();
    }
    void TearDown() override {
        delete Application;
        Application = nullptr;
        headless::Reset();
    }
};
