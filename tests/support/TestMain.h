#pragma once
// Include once per test executable: a main that creates the Qt application
// object the code under test expects, then runs GoogleTest.
#include <gtest/gtest.h>

#ifdef MIREL_TEST_WIDGETS
#include <QApplication>
using CMirelTestApp = QApplication;
#else
#include <QCoreApplication>
using CMirelTestApp = QCoreApplication;
#endif

int main(int argc, char** argv)
{
    CMirelTestApp app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
