#include "launch/TemporaryCopy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "launcher/FatalMessages.h"
#include "platform/Memory.h"
#include "platform/memory/MemoryPlatform.h"
#include "tests/unit/LauncherTestSupport.h"

namespace stub {
namespace {

const std::u16string kPackage = u"C:\\Downloads\\Setup.exe";
const std::u16string kTemp = u"C:\\Users\\User\\AppData\\Local\\Temp\\";
const std::vector<uint8_t> kProgram = {'M', 'Z', 0x90, 0x00, 0x03, 0x00, 0xFF};

std::u16string CannotCreateCopyText() {
  return FatalMessageText(FatalMessage::kCannotCreateCopy);
}

// ---------------------------------------------------------------------------
struct SplitPathCase {
  const char* name;
  std::u16string path;
  std::u16string folder;
  std::u16string fileName;
};

class SplitPathTest : public testing::TestWithParam<SplitPathCase> {};

TEST_P(SplitPathTest, SplitsAtTheLastBackslashOnly) {
  const SplitPathCase& c = GetParam();
  EXPECT_EQ(ToU16(ExtractFolder(FromU16(c.path))), c.folder);
  EXPECT_EQ(ToU16(ExtractName(FromU16(c.path))), c.fileName);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, SplitPathTest,
    testing::Values(
        SplitPathCase{"FullPath", u"C:\\Downloads\\Setup.exe", u"C:\\Downloads\\", u"Setup.exe"},
        SplitPathCase{"NameOnly", u"Setup.exe", u"", u"Setup.exe"},
        SplitPathCase{"TrailingBackslash", u"D:\\Work\\", u"D:\\Work\\", u""},
        SplitPathCase{"ForwardSlashIsOrdinary", u"C:/Downloads/Setup.exe", u"",
                      u"C:/Downloads/Setup.exe"},
        SplitPathCase{"MixedSlashes", u"C:\\a/b\\c/d.exe", u"C:\\a/b\\", u"c/d.exe"},
        SplitPathCase{"NetworkPath", u"\\\\srv\\share\\Setup.exe", u"\\\\srv\\share\\",
                      u"Setup.exe"},
        SplitPathCase{"BackslashAlone", u"\\", u"\\", u""},
        SplitPathCase{"Empty", u"", u"", u""}),
    [](const testing::TestParamInfo<SplitPathCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Folder and name choice, run through the whole copy so that the file really
// lands where the rules say.
struct PlacementCase {
  const char* name;
  std::u16string arguments;  // after the program name
  std::u16string expected;
  bool tempPathAsked = true;
  std::u16string tempPath = kTemp;
  std::u16string package = kPackage;
  std::vector<std::u16string> existingFiles = {};
  std::vector<std::u16string> existingFolders = {};
};

class PlacementTest : public testing::TestWithParam<PlacementCase> {};

TEST_P(PlacementTest, WritesTheProgramUnderTheChosenPath) {
  const PlacementCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.tempPath = c.tempPath;
  for (const auto& f : c.existingFiles) platform.files[f] = {'o', 'l', 'd'};
  platform.folders = c.existingFolders;
  platform.commandLine = u"\"" + c.package + u"\" " + c.arguments;
  platform.modulePath = c.package;
  const StubContext& context = scene.Context();
  test::ProgramPieces program(kProgram);

  const Text path = CreateTemporaryCopy(context, program, false).path;

  EXPECT_EQ(ToU16(path), c.expected);
  EXPECT_EQ(platform.files[c.expected], kProgram);
  EXPECT_EQ(platform.CallMade("GetTempPath"), c.tempPathAsked);
  // A user's copy keeps the folder's own rights, and no folder is made.
  ASSERT_EQ(platform.copies.size(), 1u);
  EXPECT_EQ(platform.copies[0].access, u"");
  EXPECT_TRUE(platform.folderAccess.empty());
  EXPECT_TRUE(platform.CallMade("HoldCopy " + ToUtf8(c.expected)));
  EXPECT_TRUE(platform.copyHeld);
  EXPECT_TRUE(platform.boxes.empty());
  EXPECT_TRUE(platform.removed.empty());
  for (const auto& f : c.existingFiles) EXPECT_EQ(platform.files[f], (std::vector<uint8_t>{'o', 'l', 'd'}));
}

INSTANTIATE_TEST_SUITE_P(
    Placements, PlacementTest,
    testing::Values(
        PlacementCase{"NoArguments", u"", kTemp + u"Setup.exe"},
        PlacementCase{"TempAloneBesideThePackage", u"/TEMP", u"C:\\Downloads\\Setup2.exe", false,
                      kTemp, kPackage, {kPackage}},
        PlacementCase{"TempWithFolder", u"/temp D:\\Work", u"D:\\Work\\Setup.exe"},
        PlacementCase{"TempWithFolderAndBackslash", u"/temp D:\\Work\\", u"D:\\Work\\Setup.exe"},
        PlacementCase{"LastTempWithFolderWins", u"/temp D:\\A /temp D:\\B",
                      u"D:\\B\\Setup.exe"},
        PlacementCase{"TrailingTempBeatsEarlierFolder", u"/temp D:\\A /Temp",
                      u"C:\\Downloads\\Setup2.exe", false, kTemp, kPackage, {kPackage}},
        PlacementCase{"SwitchTakenAsFolder", u"/temp /s", u"/s\\Setup.exe"},
        PlacementCase{"RelativeFolderUnchanged", u"/temp Rel", u"Rel\\Setup.exe"},
        PlacementCase{"TempFolderThenMoreArguments", u"/TeMp D:\\A /s", u"D:\\A\\Setup.exe"},
        PlacementCase{"FolderWithoutTempIsIgnored", u"D:\\A", kTemp + u"Setup.exe"},
        PlacementCase{"EmptyTempPathMeansDriveC", u"", u"C:\\Setup.exe", true, u""},
        // GetTempPathW(256) writes nothing for a path that does not fit with its NUL.
        PlacementCase{"TempPathOf255FitsWithItsNul", u"", u"C:\\" + std::u16string(251, u'a') +
                      u"\\Setup.exe", true, u"C:\\" + std::u16string(251, u'a') + u"\\"},
        PlacementCase{"TempPathOf256MeansDriveC", u"", u"C:\\Setup.exe", true,
                      u"C:\\" + std::u16string(252, u'a') + u"\\"},
        PlacementCase{"TempPathGetsBackslash", u"", u"C:\\Tmp\\Setup.exe", true, u"C:\\Tmp"},
        PlacementCase{"SecondNumberTaken", u"", kTemp + u"Setup3.exe", true, kTemp, kPackage,
                      {kTemp + u"Setup.exe", kTemp + u"Setup2.exe"}},
        PlacementCase{"NumbersPastNine", u"", kTemp + u"Setup11.exe", true, kTemp, kPackage,
                      {kTemp + u"Setup.exe", kTemp + u"Setup2.exe", kTemp + u"Setup3.exe",
                       kTemp + u"Setup4.exe", kTemp + u"Setup5.exe", kTemp + u"Setup6.exe",
                       kTemp + u"Setup7.exe", kTemp + u"Setup8.exe", kTemp + u"Setup9.exe",
                       kTemp + u"Setup10.exe"}},
        PlacementCase{"FolderOfThatNameCountsAsTaken", u"", kTemp + u"Setup2.exe", true, kTemp,
                      kPackage, {}, {kTemp + u"Setup.exe"}},
        PlacementCase{"NameWithoutExtension", u"", kTemp + u"Ins2tall", true, kTemp,
                      u"C:\\Downloads\\Install", {kTemp + u"Install"}},
        PlacementCase{"PathShorterThanFourCharacters", u"/temp", u"2\\a", false, kTemp, u"\\a",
                      {u"\\a"}}),
    [](const testing::TestParamInfo<PlacementCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// Failures while the copy is made and written. A damaged program says so
// first, whatever happened to the copy; a copy once created is closed and
// removed before any box, so nothing half-written stays or gets started.
struct CopyFailureCase {
  const char* name;
  bool uncreatable;
  std::optional<uint32_t> shortWrite;
  size_t failAfter;  // pieces the program delivers before it fails
  ProgramSource::Step failure;
  EndReason reason;  // of the one box shown
};
void PrintTo(const CopyFailureCase& c, std::ostream* os) { *os << c.name; }

std::u16string BoxText(EndReason reason) {
  switch (reason) {
    case EndReason::kDamaged: return FatalMessageText(FatalMessage::kDamaged);
    case EndReason::kCannotCreateCopy: return CannotCreateCopyText();
    case EndReason::kOutOfMemory: return kMsgOutOfMemory;
    default: return u"(no box the copy step shows)";
  }
}

class CopyFailureTest : public testing::TestWithParam<CopyFailureCase> {};

TEST_P(CopyFailureTest, ShowsTheFirstTrueBoxAndLeavesNoFile) {
  const CopyFailureCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  if (c.uncreatable) platform.uncreatable = {u"D:\\A\\Setup.exe"};
  platform.shortWrite = c.shortWrite;
  platform.clockStep = 5000;  // the progress window is up from the first piece
  platform.commandLine = u"Setup.exe /temp D:\\A";
  const StubContext& context = scene.Context();
  test::ProgramPieces program(kProgram, 2, c.failAfter, c.failure);

  EXPECT_THROW(CreateTemporaryCopy(context, program, false), ProcessEnded);

  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text, BoxText(c.reason));
  EXPECT_EQ(platform.boxes[0].caption, kPackage);
  EXPECT_EQ(platform.boxes[0].reason, c.reason);
  EXPECT_EQ(platform.files.count(u"D:\\A\\Setup.exe"), 0u);
  EXPECT_EQ(platform.CallMade("RemoveFile D:\\A\\Setup.exe"), !c.uncreatable);
  // Removed before the box, however long the rest of the check took.
  EXPECT_TRUE(platform.removedAtRestart.empty());
  EXPECT_TRUE(platform.copyOpen.empty());
  EXPECT_FALSE(platform.copyHeld);
  EXPECT_FALSE(platform.progressOpen);
  EXPECT_FALSE(platform.CallMade("CreateCopy D:\\A\\Setup2.exe"));

  // The platform's record outlives the removed file and holds what reached
  // it: the pieces before the failure, cut at the short write.
  ASSERT_EQ(platform.copies.size(), c.uncreatable ? 0u : 1u);
  if (!c.uncreatable) {
    size_t reached = std::min<size_t>(kProgram.size(), 2 * std::min<size_t>(c.failAfter, 4));
    if (c.shortWrite) reached = std::min<size_t>(reached, *c.shortWrite);
    EXPECT_EQ(platform.copies[0].path, u"D:\\A\\Setup.exe");
    EXPECT_EQ(platform.copies[0].bytes,
              std::vector<uint8_t>(kProgram.begin(), kProgram.begin() + reached));
  }
}

constexpr size_t kNever = test::ProgramPieces::kNever;
using Step = ProgramSource::Step;
constexpr EndReason kDamaged = EndReason::kDamaged;
constexpr EndReason kCannotCopy = EndReason::kCannotCreateCopy;
constexpr EndReason kOutOfMemory = EndReason::kOutOfMemory;

INSTANTIATE_TEST_SUITE_P(
    Failures, CopyFailureTest,
    testing::Values(
        CopyFailureCase{"Uncreatable", true, std::nullopt, kNever, Step::kDamaged, kCannotCopy},
        // The program is checked to its end before the copy is blamed.
        CopyFailureCase{"UncreatableAndDamaged", true, std::nullopt, 3, Step::kDamaged, kDamaged},
        CopyFailureCase{"UncreatableAndOutOfMemory", true, std::nullopt, 3, Step::kOutOfMemory, kOutOfMemory},
        CopyFailureCase{"ShortWrite", false, 3u, kNever, Step::kDamaged, kCannotCopy},
        CopyFailureCase{"ShortWriteAndDamagedFurtherOn", false, 3u, 3, Step::kDamaged, kDamaged},
        CopyFailureCase{"ShortWriteAndOutOfMemoryFurtherOn", false, 3u, 3, Step::kOutOfMemory, kOutOfMemory},
        CopyFailureCase{"NothingWritten", false, 0u, kNever, Step::kDamaged, kCannotCopy},
        CopyFailureCase{"DamagedPartWay", false, std::nullopt, 2, Step::kDamaged, kDamaged},
        CopyFailureCase{"DamagedBeforeTheFirstPiece", false, std::nullopt, 0, Step::kDamaged, kDamaged},
        CopyFailureCase{"OutOfMemoryPartWay", false, std::nullopt, 2, Step::kOutOfMemory, kOutOfMemory}),
    [](const testing::TestParamInfo<CopyFailureCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// The progress window: never for a quick copy, from about a second on for a
// slow one, always gone when the copy is done.
struct ProgressCase {
  const char* name;
  uint32_t millisecondsPerTick;
  std::vector<uint32_t> shown;  // done bytes at each update of the window
};
void PrintTo(const ProgressCase& c, std::ostream* os) { *os << c.name; }

class CopyProgressTest : public testing::TestWithParam<ProgressCase> {};

TEST_P(CopyProgressTest, AppearsOnlyAfterTheDelayAndIsGoneAtTheEnd) {
  const ProgressCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.clockStep = c.millisecondsPerTick;
  platform.commandLine = u"Setup.exe";
  const StubContext& context = scene.Context();
  test::ProgramPieces program(kProgram, 2);

  CreateTemporaryCopy(context, program, false);

  EXPECT_EQ(platform.progressShown, c.shown);
  EXPECT_EQ(platform.CallMade("ShowProgress " + ToUtf8(kPackage) + " of 7"), !c.shown.empty());
  EXPECT_FALSE(platform.progressOpen);
  EXPECT_EQ(platform.files[kTemp + u"Setup.exe"], kProgram);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, CopyProgressTest,
    testing::Values(ProgressCase{"Quick", 0, {}}, ProgressCase{"JustUnderTheDelay", 249, {}},
                    ProgressCase{"FromTheFourthPiece", 250, {7}},
                    ProgressCase{"FromTheSecondPiece", 500, {4, 6, 7}},
                    ProgressCase{"FromTheFirstPiece", 1000, {2, 4, 6, 7}}),
    [](const testing::TestParamInfo<ProgressCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// A name that someone else creates between our probe and our creation.
struct RaceCase {
  const char* name;
  std::vector<std::u16string> takenAtCreation;
  std::vector<std::u16string> existing;
  std::u16string expected;
};

class CreationRaceTest : public testing::TestWithParam<RaceCase> {};

TEST_P(CreationRaceTest, SkipsToTheNextNumberAndLeavesTheOtherFileAlone) {
  const RaceCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.takenAtCreation = c.takenAtCreation;
  for (const auto& f : c.existing) platform.files[f] = {'o', 'l', 'd'};
  platform.commandLine = u"Setup.exe";
  const StubContext& context = scene.Context();
  test::ProgramPieces program(kProgram);

  const Text path = CreateTemporaryCopy(context, program, false).path;

  EXPECT_EQ(ToU16(path), c.expected);
  EXPECT_EQ(platform.files[c.expected], kProgram);
  for (const auto& taken : c.takenAtCreation) {
    EXPECT_EQ(platform.files[taken], (std::vector<uint8_t>{'o', 't', 'h', 'e', 'r'}));
  }
  EXPECT_TRUE(platform.removed.empty());
  EXPECT_TRUE(platform.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Races, CreationRaceTest,
    testing::Values(RaceCase{"PlainName", {kTemp + u"Setup.exe"}, {}, kTemp + u"Setup2.exe"},
                    RaceCase{"TwoInARow", {kTemp + u"Setup.exe", kTemp + u"Setup2.exe"}, {},
                             kTemp + u"Setup3.exe"},
                    RaceCase{"NumberedNameThenProbedTaken",
                             {kTemp + u"Setup2.exe"},
                             {kTemp + u"Setup.exe", kTemp + u"Setup3.exe"},
                             kTemp + u"Setup4.exe"}),
    [](const testing::TestParamInfo<RaceCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// While a copy that could not be made is checked to its end, the window
// keeps showing the unpacked share (its messages are handled with it).
struct DrainCase {
  const char* name;
  bool uncreatable;
  std::optional<uint32_t> shortWrite;
  std::vector<uint32_t> shown;
};
void PrintTo(const DrainCase& c, std::ostream* os) { *os << c.name; }

class DrainProgressTest : public testing::TestWithParam<DrainCase> {};

TEST_P(DrainProgressTest, WindowKeepsAnswering) {
  const DrainCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  if (c.uncreatable) platform.uncreatable = {kTemp + u"Setup.exe"};
  platform.shortWrite = c.shortWrite;
  platform.clockStep = 5000;
  platform.commandLine = u"Setup.exe";
  test::ProgramPieces program(kProgram, 2);

  EXPECT_THROW(CreateTemporaryCopy(scene.Context(), program, false), ProcessEnded);

  EXPECT_EQ(platform.progressShown, c.shown);
  EXPECT_FALSE(platform.progressOpen);
  EXPECT_EQ(scene.Box(), CannotCreateCopyText());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DrainProgressTest,
    testing::Values(DrainCase{"Uncreatable", true, std::nullopt, {2, 4, 6, 7}},
                    DrainCase{"ShortWrite", false, 3u, {2, 6, 7}}),
    [](const testing::TestParamInfo<DrainCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// An administrator's copy: in a new folder with an unpredictable name inside
// the machine's temporary folder (never the user's) or the folder "/temp"
// names, born with rights for Administrators and SYSTEM alone, named by its
// final path from then on, and the copy inside it created with the same.
const std::u16string kSecondPrivateName = u"101112131415161718191a1b1c1d1e1f";
const std::u16string kSystemTemp = u"C:\\Windows\\SystemTemp\\";
const std::u16string kWindowsTemp = u"C:\\Windows\\Temp\\";

struct PrivatePlacementCase {
  const char* name;
  std::u16string arguments;
  std::vector<std::u16string> existingFolders;
  std::vector<std::u16string> uncreatable;
  std::u16string madeAs;     // the folder as created
  std::u16string finalPath;  // what Windows says it is; empty: the same
  std::u16string expected;   // the copy
};
void PrintTo(const PrivatePlacementCase& c, std::ostream* os) { *os << c.name; }

class PrivatePlacementTest : public testing::TestWithParam<PrivatePlacementCase> {};

TEST_P(PrivatePlacementTest, WritesIntoANewLockedFolder) {
  const PrivatePlacementCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.tempPath = kTemp;
  platform.folders = c.existingFolders;
  platform.uncreatable = c.uncreatable;
  if (!c.finalPath.empty()) platform.finalPaths[c.madeAs] = c.finalPath;
  platform.files[kPackage] = {'p', 'k', 'g'};
  platform.commandLine = u"\"" + kPackage + u"\" " + c.arguments;
  test::ProgramPieces program(kProgram);

  const TemporaryCopy copy = CreateTemporaryCopy(scene.Context(), program, true);

  EXPECT_EQ(ToU16(copy.path), c.expected);
  EXPECT_EQ(ToU16(copy.name), u"Setup.exe");
  const std::u16string folder = c.expected.substr(0, c.expected.rfind(u'\\'));
  EXPECT_EQ(ToU16(copy.privateFolder), folder + u"\\");
  EXPECT_EQ(platform.files[c.expected], kProgram);
  EXPECT_EQ(platform.folderAccess[c.madeAs], kPrivateFolderAccess);
  EXPECT_EQ(platform.heldFolder, c.madeAs) << "the folder is not held until the start";
  ASSERT_EQ(platform.copies.size(), 1u);
  EXPECT_EQ(platform.copies[0].access, kPrivateFolderAccess);
  EXPECT_TRUE(platform.CallMade("CreateCopyInHeldFolder Setup.exe"));
  EXPECT_TRUE(platform.copyHeld);
  EXPECT_TRUE(platform.boxes.empty());
  EXPECT_FALSE(platform.CallMade("GetTempPath") && c.arguments.empty())
      << "the user's temporary folder is not asked for";
  // Folders that were there already are never used, nor touched.
  for (const auto& existing : c.existingFolders) {
    EXPECT_EQ(platform.folderAccess.count(existing), 0u);
    EXPECT_NE(folder, existing);
  }
  EXPECT_EQ(platform.folders.size(), c.existingFolders.size() + 1);
}

INSTANTIATE_TEST_SUITE_P(
    Placements, PrivatePlacementTest,
    testing::Values(
        PrivatePlacementCase{"InTheMachinesTemporaryFolder", u"", {}, {},
                             kSystemTemp + test::kFirstPrivateName, u"",
                             kSystemTemp + test::kFirstPrivateName + u"\\Setup.exe"},
        PrivatePlacementCase{"InWindowsTempWhereSystemTempTakesNoFolder", u"", {},
                             {kSystemTemp + test::kFirstPrivateName},
                             kWindowsTemp + kSecondPrivateName, u"",
                             kWindowsTemp + kSecondPrivateName + u"\\Setup.exe"},
        PrivatePlacementCase{"InTheTempSwitchFolder", u"/temp D:\\Work /s", {}, {},
                             u"D:\\Work\\" + test::kFirstPrivateName, u"",
                             u"D:\\Work\\" + test::kFirstPrivateName + u"\\Setup.exe"},
        // A junction or a mapped drive on the way: every later step takes the
        // real place, so flipping the junction afterwards changes nothing.
        PrivatePlacementCase{"TempSwitchThroughAJunction", u"/temp D:\\Link", {}, {},
                             u"D:\\Link\\" + test::kFirstPrivateName,
                             u"E:\\Real\\" + test::kFirstPrivateName,
                             u"E:\\Real\\" + test::kFirstPrivateName + u"\\Setup.exe"},
        // The package's own name is free in a new folder: nothing is numbered.
        PrivatePlacementCase{"BesideThePackageUnnumbered", u"/temp", {}, {},
                             u"C:\\Downloads\\" + test::kFirstPrivateName, u"",
                             u"C:\\Downloads\\" + test::kFirstPrivateName + u"\\Setup.exe"},
        PrivatePlacementCase{"ExistingFolderOfThatNameIsPassedOver", u"",
                             {kSystemTemp + test::kFirstPrivateName}, {},
                             kSystemTemp + kSecondPrivateName, u"",
                             kSystemTemp + kSecondPrivateName + u"\\Setup.exe"}),
    [](const testing::TestParamInfo<PrivatePlacementCase>& info) { return info.param.name; });

// Failures of an administrator's copy: the box the same rules choose, and
// nothing of ours left behind, the folder included.
struct PrivateFailureCase {
  const char* name;
  bool randomFails;
  size_t namesTaken;  // folders already there under the first names drawn
  bool folderUncreatable;
  bool copyUncreatable;
  bool keepsNoAcls;     // a FAT or network volume
  bool finalPathFails;
  std::optional<uint32_t> shortWrite;
  size_t failAfter;
  EndReason reason;
};
void PrintTo(const PrivateFailureCase& c, std::ostream* os) { *os << c.name; }

const std::u16string kWork = u"D:\\Work\\";

class PrivateFailureTest : public testing::TestWithParam<PrivateFailureCase> {};

TEST_P(PrivateFailureTest, ShowsTheBoxAndLeavesNothingOfOurs) {
  const PrivateFailureCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.randomFails = c.randomFails;
  for (size_t i = 0; i < c.namesTaken; ++i) {
    std::u16string name;
    for (size_t b = 0; b < kPrivateNameBytes; ++b) {
      const unsigned v = static_cast<unsigned>(i * kPrivateNameBytes + b) & 0xFF;
      name += u"0123456789abcdef"[v >> 4];
      name += u"0123456789abcdef"[v & 15];
    }
    platform.folders.push_back(kWork + name);
  }
  const std::vector<std::u16string> before = platform.folders;
  const std::u16string folder = kWork + test::kFirstPrivateName;
  if (c.folderUncreatable) platform.uncreatable.push_back(folder);
  if (c.copyUncreatable) platform.uncreatable.push_back(folder + u"\\Setup.exe");
  platform.folderKeepsAcls = !c.keepsNoAcls;
  platform.folderPathFails = c.finalPathFails;
  platform.shortWrite = c.shortWrite;
  platform.commandLine = u"Setup.exe /temp D:\\Work";
  test::ProgramPieces program(kProgram, 2, c.failAfter);

  EXPECT_THROW(CreateTemporaryCopy(scene.Context(), program, true), ProcessEnded);

  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].reason, c.reason);
  EXPECT_EQ(platform.folders, before);
  EXPECT_TRUE(platform.files.empty());
  EXPECT_TRUE(platform.removedAtRestart.empty());
  EXPECT_FALSE(platform.copyHeld);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, PrivateFailureTest,
    testing::Values(
        PrivateFailureCase{"NoRandomSource", true, 0, false, false, false, false, std::nullopt,
                           kNever, kCannotCopy},
        PrivateFailureCase{"EveryNameTaken", false, kPrivateNameAttempts, false, false, false, false,
                           std::nullopt, kNever, kCannotCopy},
        PrivateFailureCase{"FolderUncreatable", false, 0, true, false, false, false, std::nullopt,
                           kNever, kCannotCopy},
        PrivateFailureCase{"FolderUncreatableAndDamaged", false, 0, true, false, false, false,
                           std::nullopt, 2, kDamaged},
        PrivateFailureCase{"CopyUncreatable", false, 0, false, true, false, false, std::nullopt,
                           kNever, kCannotCopy},
        PrivateFailureCase{"VolumeKeepsNoAccessLists", false, 0, false, false, true, false,
                           std::nullopt, kNever, kCannotCopy},
        PrivateFailureCase{"FinalPathUnknown", false, 0, false, false, false, true, std::nullopt,
                           kNever, kCannotCopy},
        PrivateFailureCase{"ShortWrite", false, 0, false, false, false, false, 3u, kNever,
                           kCannotCopy},
        PrivateFailureCase{"DamagedPartWay", false, 0, false, false, false, false, std::nullopt, 2,
                           kDamaged}),
    [](const testing::TestParamInfo<PrivateFailureCase>& info) { return info.param.name; });

// ---------------------------------------------------------------------------
// A finished copy that cannot be held is never handed back to be started.
struct HoldFailureCase {
  const char* name;
  bool administrator;
  bool undeletable;
  bool copyRemains;
  size_t scheduledAtRestart;
};
void PrintTo(const HoldFailureCase& c, std::ostream* os) { *os << c.name; }

class HoldFailureTest : public testing::TestWithParam<HoldFailureCase> {};

TEST_P(HoldFailureTest, CannotExecuteAndTheCopyIsDeletedWherePossible) {
  const HoldFailureCase& c = GetParam();
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.holdFails = true;
  platform.commandLine = u"Setup.exe";
  const std::u16string copy = c.administrator
                                  ? kSystemTemp + test::kFirstPrivateName + u"\\Setup.exe"
                                  : kTemp + u"Setup.exe";
  if (c.undeletable) platform.undeletable = {copy};
  test::ProgramPieces program(kProgram);

  EXPECT_THROW(CreateTemporaryCopy(scene.Context(), program, c.administrator), ProcessEnded);

  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].reason, EndReason::kCannotExecute);
  EXPECT_FALSE(platform.copyHeld);
  EXPECT_EQ(platform.files.count(copy), c.copyRemains ? 1u : 0u);
  EXPECT_EQ(platform.removedAtRestart.size(), c.scheduledAtRestart);
  EXPECT_EQ(platform.folders.empty(), !c.copyRemains || !c.administrator);
}

INSTANTIATE_TEST_SUITE_P(
    Holds, HoldFailureTest,
    testing::Values(HoldFailureCase{"UsersCopyDeleted", false, false, false, 0},
                    HoldFailureCase{"UsersCopyThatCannotGoStays", false, true, true, 0},
                    HoldFailureCase{"AdministratorsCopyAndFolderDeleted", true, false, false, 0},
                    HoldFailureCase{"AdministratorsCopyThatCannotGoGoesAtRestart", true, true, true, 2}),
    [](const testing::TestParamInfo<HoldFailureCase>& info) { return info.param.name; });

// Where the file system cannot say which file the copy is, only a plain
// user's copy (which nothing more trusted runs) is started.
TEST(HoldIdentityTest, AdministratorStartsOnlyAConfirmedCopy) {
  for (const bool administrator : {false, true}) {
    test::LauncherScene scene;
    MemoryPlatform& platform = scene.platform;
    platform.copyIdentityUnknown = true;
    platform.commandLine = u"Setup.exe";
    test::ProgramPieces program(kProgram);
    const bool returned = RunAsProcess(
        platform, [&] { CreateTemporaryCopy(scene.Context(), program, administrator); });
    EXPECT_EQ(returned, !administrator);
    EXPECT_EQ(platform.copyHeld, !administrator);
    if (administrator) {
      ASSERT_EQ(platform.boxes.size(), 1u);
      EXPECT_EQ(platform.boxes[0].reason, EndReason::kCannotExecute);
      EXPECT_TRUE(platform.files.empty());
    }
  }
}

// ---------------------------------------------------------------------------
TEST(ChooseTemporaryPathTest, HighestNumberIsUsableAndTheNextOneEndsTheProcess) {
  test::LauncherScene scene;
  MemoryPlatform& platform = scene.platform;
  platform.commandLine = u"Setup.exe";
  const std::u16string last = u"D:\\A\\Setup4294967295.exe";

  uint32_t chosen = 0;
  EXPECT_EQ(ToU16(ChooseTemporaryPath(scene.Context(), Text(u"D:\\A\\"), 0xFFFFFFFFu, chosen)), last);
  EXPECT_EQ(chosen, 0xFFFFFFFFu);

  platform.files[last] = {};
  EXPECT_THROW(ChooseTemporaryPath(scene.Context(), Text(u"D:\\A\\"), 0xFFFFFFFFu, chosen),
               ProcessEnded);
  ASSERT_EQ(platform.boxes.size(), 1u);
  EXPECT_EQ(platform.boxes[0].text, CannotCreateCopyText());
  EXPECT_EQ(platform.boxes[0].caption, kPackage);
  EXPECT_EQ(platform.boxes[0].reason, EndReason::kCannotCreateCopy);
  EXPECT_FALSE(platform.CallMade("FileExists D:\\A\\Setup0.exe"));
}

}  // namespace
}  // namespace stub
