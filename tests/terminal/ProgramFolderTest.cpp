#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include "ProgramFolder.h"

namespace {

TEST(ProgramFolderTest, IsTheProgramsOwnFolderWhenWritable) {
  SetProgramFolder(QString());
  const QString folder = ProgramFolder();
  EXPECT_EQ(QDir(folder).canonicalPath(),
            QDir(QCoreApplication::applicationDirPath()).canonicalPath());
  EXPECT_EQ(ProgramFilePath("Kelterm.ini"), folder + "/Kelterm.ini");
}

TEST(ProgramFolderTest, CanBePointedElsewhereAndBack) {
  QTemporaryDir elsewhere;
  const QString usual = ProgramFolder();
  SetProgramFolder(elsewhere.path());
  EXPECT_EQ(ProgramFolder(), elsewhere.path());
  EXPECT_EQ(ProgramFilePath("a.LOG"), elsewhere.path() + "/a.LOG");
  SetProgramFolder(QString());
  EXPECT_EQ(ProgramFolder(), usual);
}

}  // namespace
