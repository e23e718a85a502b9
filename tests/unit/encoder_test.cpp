// The encoder binding: the record handed to the module, loading and rejecting modules, the
// output file's life, and failures told rather than swallowed.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <linux/capability.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "engine_fixture.h"
#include "output_file.h"
#include "text_conversion.h"
#ifdef _WIN32
#include "system_text_win32.h"
#endif

namespace {

using EncoderTest = EngineTest;

void PutDword(std::vector<unsigned char>& bytes, size_t offset, uint32_t value) {
    for (int i = 0; i < 4; ++i)
        bytes[offset + i] = static_cast<unsigned char>(value >> (8 * i));
}

// The record as the module must see it, built byte by byte from the offsets, so a wrong
// field order, width or packing in BE_CONFIG shows up here.
std::vector<unsigned char> ExpectedRecord(uint32_t bitrate) {
    std::vector<unsigned char> bytes(331, 0);
    PutDword(bytes, 0, 256);     // dwConfig: BE_CONFIG_LAME
    PutDword(bytes, 4, 1);       // dwStructVersion
    PutDword(bytes, 8, 331);     // dwStructSize
    PutDword(bytes, 12, 44100);  // dwSampleRate
    PutDword(bytes, 16, 0);      // dwReSampleRate
    PutDword(bytes, 20, 1);      // nMode: joint stereo
    PutDword(bytes, 24, bitrate);
    PutDword(bytes, 32, 12);                     // nPreset: LQP_CBR
    PutDword(bytes, 36, bitrate > 32u ? 1 : 0);  // dwMpegVersion
    PutDword(bytes, 48, 1);                      // bPrivate
    PutDword(bytes, 56, 1);                      // bCopyright
    PutDword(bytes, 60, 1);                      // bOriginal
    PutDword(bytes, 84, 1);                      // bNoRes
    return bytes;
}

std::vector<unsigned char> RecordBytes(const BE_CONFIG& config) {
    const auto* p = reinterpret_cast<const unsigned char*>(&config);
    return {p, p + sizeof(config)};
}

class RecordPerBitRate : public EngineTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RecordPerBitRate, IsExactlyTheLhv1RecordAndTheSameEverySession) {
    const uint32_t bitrate = GetParam();
    ASSERT_EQ(OpenEncoder(bitrate, 44100, 0, Path("a.mp3").wstring()), 1);
    const auto first = RecordBytes(Log().lastConfig);
    CloseEncoder();
    EXPECT_EQ(first, ExpectedRecord(bitrate));

    // Garbage left in the record must not survive into the next session.
    std::memset(&g_EncoderConfig, 0xAB, sizeof(g_EncoderConfig));
    ASSERT_EQ(OpenEncoder(bitrate, 44100, 0, Path("b.mp3").wstring()), 1);
    EXPECT_EQ(RecordBytes(Log().lastConfig), first);
    EXPECT_EQ(Log().initCalls, 2);
}

INSTANTIATE_TEST_SUITE_P(TheEightListedRates, RecordPerBitRate,
                         ::testing::Values(16u, 32u, 48u, 64u, 96u, 128u, 160u, 256u),
                         [](const auto& info) { return std::to_string(info.param) + "kbps"; });

TEST_F(EncoderTest, MpegVersionComesFromAnUnsignedComparison) {
    // A negative number in the bit-rate text becomes a huge unsigned rate: MPEG-1, not MPEG-2.
    const DWORD fromNegative = ParseBitRate(L"-1 Kbps");
    ASSERT_EQ(fromNegative, 0xFFFFFFFFu);
    OpenEncoder(fromNegative, 44100, 0, Path("n.mp3").wstring());
    EXPECT_EQ(Log().lastConfig.format.lhv1.dwMpegVersion, 1u);
    CloseEncoder();
    OpenEncoder(33, 44100, 0, Path("n.mp3").wstring());
    EXPECT_EQ(Log().lastConfig.format.lhv1.dwMpegVersion, 1u);
    CloseEncoder();
    OpenEncoder(32, 44100, 0, Path("n.mp3").wstring());
    EXPECT_EQ(Log().lastConfig.format.lhv1.dwMpegVersion, 0u);
}

TEST_F(EncoderTest, ModuleIsLoadedOnceAndKept) {
    ASSERT_EQ(LoadEncoder(), 1);
    // Pointing the name elsewhere changes nothing: the loaded module stays in use.
    g_pszEncoderLibrary = "/nonexistent/lame_enc.so";
    EXPECT_EQ(LoadEncoder(), 1);
    EXPECT_EQ(OpenEncoder(128, 44100, 0, Path("x.mp3").wstring()), 1);
    EXPECT_EQ(TakeFailure(), "");
}

TEST_F(EncoderTest, ModuleLackingAnEntryPointIsReleasedAndTriedAgainNextSession) {
    const std::string slot = Path("lame_enc.so").string();
    std::filesystem::copy_file(FakeModulePath("missing_vbr_header"), slot);
    g_pszEncoderLibrary = slot.c_str();
    std::ofstream(Path("keep.mp3")) << "earlier recording";

    EXPECT_EQ(OpenEncoder(128, 44100, 0, Path("keep.mp3").wstring()), 0);
    EXPECT_EQ(g_bEncoderLoaded, 0);
    EXPECT_FALSE(IsLibraryLoaded(slot)) << "the module was not released";
    EXPECT_EQ(Bytes("earlier recording"), ReadBytes(Path("keep.mp3")));
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find("beWriteVBRHeader"), std::string::npos) << cause;

    // A complete module put in its place is picked up by the next session.
    std::filesystem::copy_file(FakeModulePath("counting"), slot,
                               std::filesystem::copy_options::overwrite_existing);
    EXPECT_EQ(OpenEncoder(128, 44100, 0, Path("keep.mp3").wstring()), 1);
    EXPECT_EQ(g_bEncoderLoaded, 1);
}

// A bare module name is looked for beside the executable, not in the current folder: a
// module of that name there (here one whose beInitStream fails) is never loaded and run.
TEST_F(EncoderTest, ModuleInTheCurrentFolderIsNotLoaded) {
    const std::string bare = std::string("lame_enc_elsewhere") + DYNAMIC_LIBRARY_SUFFIX;
    std::filesystem::copy_file(FakeModulePath("failing_init"), folder_ / bare);
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(folder_);
    g_pszEncoderLibrary = bare.c_str();
    EXPECT_EQ(OpenEncoder(128, 44100, 0, Path("out.mp3").wstring()), 0);
    std::filesystem::current_path(previous);
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find("could not be loaded"), std::string::npos) << cause;
}

TEST_F(EncoderTest, MissingModuleLeavesAnExistingFileUntouchedAndSaysWhy) {
    g_pszEncoderLibrary = "/nonexistent/lame_enc.so";
    std::ofstream(Path("keep.mp3")) << "earlier recording";
    EXPECT_EQ(OpenEncoder(128, 44100, 0, Path("keep.mp3").wstring()), 0);
    EXPECT_EQ(g_pOutputFile, nullptr);
    EXPECT_EQ(Bytes("earlier recording"), ReadBytes(Path("keep.mp3")));
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find("/nonexistent/lame_enc.so"), std::string::npos) << cause;
}

TEST_F(EncoderTest, FailedStreamOpenLeavesAnEmptyFileAndNoEncoding) {
    UseModule("failing_init");
    std::ofstream(Path("out.mp3")) << "old";
    EXPECT_EQ(OpenEncoder(128, 44100, 0, Path("out.mp3").wstring()), 0);
    EXPECT_NE(TakeFailure().find("128 kbps"), std::string::npos);

    // No stream: the module is not called, and the count is set so the caller writes nothing.
    short pcm[4] = {1, 2, 3, 4};
    unsigned char out[64];
    DWORD outBytes = 12345;
    EncodeChunk(pcm, 4, out, &outBytes);
    EXPECT_EQ(outBytes, 0u);
    EXPECT_EQ(Log().encodeCalls, 0);

    CloseEncoder();
    EXPECT_EQ(Log().deinitCalls, 0);
    EXPECT_EQ(Log().closeCalls, 0);
    EXPECT_TRUE(std::filesystem::exists(Path("out.mp3")));
    EXPECT_EQ(std::filesystem::file_size(Path("out.mp3")), 0u);
}

TEST_F(EncoderTest, UncreatableFileIsNamedWithTheSystemsWords) {
    const auto path = Path("no-such-folder") / "out.mp3";
    EXPECT_EQ(OpenEncoder(128, 44100, 0, path.wstring()), 0);
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find(path.string()), std::string::npos) << cause;
    EXPECT_NE(cause.find(SystemWords(SystemError::kNoSuchFolder)), std::string::npos) << cause;

    EXPECT_EQ(OpenEncoder(128, 44100, 0, folder_.wstring()), 0);  // a folder, not a file
    EXPECT_NE(TakeFailure().find(SystemWords(SystemError::kIsAFolder)), std::string::npos);
}

#ifndef _WIN32  // POSIX permissions, and a child that gives up root's powers
// Clears this thread's effective capabilities: root keeps its user id, and with it the way,
// as owner, to whatever root made, wherever that lies (a clone in a folder only root may
// enter, a private TMPDIR), but the system now checks its permissions as anyone else's.
bool GiveUpRootsPowers() {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3] = {};
    if (syscall(SYS_capget, &header, data) != 0)
        return false;
    for (auto& set : data)
        set.effective = 0;
    return syscall(SYS_capset, &header, data) == 0;
}

TEST_F(EncoderTest, FolderWithoutWritePermissionIsNamed) {
    const auto locked = Path("locked");
    std::filesystem::create_directory(locked);
    std::filesystem::permissions(locked,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
    // Root writes anywhere: the child gives up that power first, as a person's session has
    // none. The module is loaded before, as the build's folder need not be the child's to
    // enter (a clone under someone else's home, built with sudo). A fresh process for it,
    // since this one may run threads.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            if (LoadEncoder() != 1)
                std::exit(3);
            if (!GiveUpRootsPowers())
                std::exit(4);
            OpenEncoder(128, 44100, 0, (locked / "out.mp3").wstring());
            std::fputs(TakeFailure().c_str(), stderr);
            std::filesystem::remove_all(folder_);  // the child's own (it ran SetUp); exit skips TearDown
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "Cannot create \".*/locked/out.mp3\": Permission denied");
}
#endif

TEST_F(EncoderTest, FileHoldsTheChunksInOrderThenTheFlushedTail) {
    ASSERT_EQ(OpenEncoder(128, 44100, 0, Path("out.mp3").wstring()), 1);
    short pcm[8] = {5, 6, 7, 8, 9, 10, 11, 12};
    unsigned char out[64];
    DWORD outBytes = 0;
    EncodeChunk(pcm, 8, out, &outBytes);
    EXPECT_EQ(AppendToOutput(out, outBytes), 1);
    EncodeChunk(pcm + 2, 6, out, &outBytes);
    EXPECT_EQ(AppendToOutput(out, outBytes), 1);
    // Each chunk is on disk at once, before the session closes anything.
    EXPECT_EQ(ReadBytes(Path("out.mp3")).size(), 16u);
    CloseEncoder();

    std::vector<unsigned char> expected = FakeChunk(1, 8, 5);
    const auto second = FakeChunk(2, 6, 7);
    expected.insert(expected.end(), second.begin(), second.end());
    expected.insert(expected.end(), {'T', 'A', 'I', 'L'});
    EXPECT_EQ(ReadBytes(Path("out.mp3")), expected);
    EXPECT_EQ(Log().closeCalls, 1);
    EXPECT_EQ(g_pOutputFile, nullptr);
    CloseEncoder();  // nothing left to close
    EXPECT_EQ(Log().closeCalls, 1);
}

TEST_F(EncoderTest, FailedWriteIsToldAndNothingFollowsIt) {
    ASSERT_EQ(OpenEncoder(128, 44100, 0, L"/dev/full"), 1);
    const unsigned char chunk[8] = {};
    EXPECT_EQ(AppendToOutput(chunk, sizeof(chunk)), 0);
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find("/dev/full"), std::string::npos) << cause;
    EXPECT_NE(cause.find("failed: " + SystemWords(SystemError::kDiskFull)), std::string::npos) << cause;
    EXPECT_EQ(AppendToOutput(chunk, sizeof(chunk)), 0);
    EXPECT_EQ(AppendToOutput(chunk, 0), 1);  // nothing to write is no failure
}

TEST_F(EncoderTest, PathIsUsedWholeAndNonAsciiNamesWork) {
    // Deep folders make a path far beyond 259 characters; it must not be cut.
    std::filesystem::path deep = folder_;
    for (int i = 0; i < 6; ++i)
        deep /= std::string(50, static_cast<char>('a' + i));
    std::filesystem::create_directories(deep);
    // U+1F399 lies beyond the BMP: a surrogate pair in Windows' wide text, one character.
    const std::wstring name = L"Aufnahme \u00FC\u00E9 \u65E5 \U0001F399.mp3";
    const std::string nameUtf8 = "Aufnahme \xC3\xBC\xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x8E\x99.mp3";
    const std::wstring wide = deep.wstring() + L"/" + name;
    const std::filesystem::path path = PathFromUtf8(deep.string() + "/" + nameUtf8);
    ASSERT_GT(wide.size(), 300u);
    ASSERT_EQ(OpenEncoder(128, 44100, 0, wide), 1);
    CloseEncoder();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_TRUE(ReadBytes(path).empty());
    // A message names the file as it is called.
    EXPECT_EQ(OpenEncoder(128, 44100, 0, folder_.wstring() + L"/missing/" + name), 0);
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find("/missing/" + nameUtf8), std::string::npos) << cause;
}

}  // namespace

#ifndef _WIN32  // the other session is a forked process
TEST_F(EncoderTest, FileBeingRecordedElsewhereIsRefusedAndKeptWhole) {
    const auto path = Path("shared.mp3");
    // Another process records the file: it holds the lock until told to let go.
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    const pid_t holder = fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        close(release[1]);  // else the release below never reads as end of file
        OutputFileError error;
        FILE* file = OpenOutputFile(path, &error);
        const char took = file != nullptr && std::fputs("theirs", file) >= 0 && std::fflush(file) == 0;
        (void)!write(ready[1], &took, 1);
        char done;
        (void)!read(release[0], &done, 1);
        _exit(0);
    }
    close(release[0]);
    char took = 0;
    ASSERT_EQ(read(ready[0], &took, 1), 1);
    ASSERT_TRUE(took);

    EXPECT_EQ(OpenEncoder(128, 44100, 0, path.wstring()), 0);
    EXPECT_EQ(g_pOutputFile, nullptr);
    EXPECT_NE(TakeFailure().find("is being recorded by another Voxmere window"), std::string::npos);
    EXPECT_EQ(ReadBytes(path), Bytes("theirs"));
    CloseEncoder();

    close(release[1]);
    waitpid(holder, nullptr, 0);
    // The lock went with its holder: the file can be recorded now, and a second open of it in
    // this same process is refused while this session holds it.
    ASSERT_EQ(OpenEncoder(128, 44100, 0, path.wstring()), 1);
    EXPECT_TRUE(ReadBytes(path).empty());
    OutputFileError error;
    EXPECT_EQ(OpenOutputFile(path, &error), nullptr);
    EXPECT_TRUE(error.busy);
}
#endif

#ifdef _WIN32
// Windows refuses a file that a player or a virus scanner holds open just as it refuses one a
// session records: only the second is told as Voxmere's doing.
TEST_F(EncoderTest, FileHeldByAnotherProgramIsRefusedWithTheSystemsWords) {
    const std::filesystem::path path = folder_ / L"held \u00E9.mp3";
    HANDLE player = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(player, INVALID_HANDLE_VALUE);
    EXPECT_EQ(OpenEncoder(128, 44100, 0, path.wstring()), 0);
    const std::string cause = TakeFailure();
    EXPECT_NE(cause.find(SystemErrorText(ERROR_SHARING_VIOLATION)), std::string::npos) << cause;
    EXPECT_NE(cause.find(ToUtf8(path.wstring())), std::string::npos) << cause;
    EXPECT_EQ(cause.find("Voxmere"), std::string::npos) << cause;
    CloseEncoder();
    CloseHandle(player);

    ASSERT_EQ(OpenEncoder(128, 44100, 0, path.wstring()), 1);
    OutputFileError error;
    EXPECT_EQ(OpenOutputFile(path, &error), nullptr);
    EXPECT_TRUE(error.busy);
}
#endif
