// main() of the window tests: Qt's offscreen platform unless the environment
// chooses another, one QApplication for every test of the program.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>

#define QEL_QT_TEST_MAIN()                                                                 \
  int main(int argc, char** argv) {                                                        \
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen"); \
    ::testing::InitGoogleTest(&argc, argv);                                                \
    QApplication app(argc, argv);                                                          \
    return RUN_ALL_TESTS();                                                                \
  }
