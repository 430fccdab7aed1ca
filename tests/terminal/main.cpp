// The window tests need an application object on the offscreen platform;
// KelApplication's notify() is part of what they check.
#include <gtest/gtest.h>

#include "KelApplication.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  ::testing::InitGoogleTest(&argc, argv);
  KelApplication app(argc, argv);
  return RUN_ALL_TESTS();
}
