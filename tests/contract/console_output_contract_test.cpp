// The standard output of a dialog program, on both backends: what GetFileType and
// GetConsoleMode say of the handle it was given, WriteFile's bytes to a file or device it was
// redirected to, the parent console it attaches to and WriteConsoleW on that console.
#include <gtest/gtest.h>

#include <string>

#include "contract/backend.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/sim/sim_machine.h"
#endif

using namespace platform;

namespace {

constexpr uint32_t kSentinel = 0xdeadbeef;

// Points the standard output at a file, at the NUL device or at nothing for one test, and
// puts the real handle back afterwards.
class StdOutputContract : public ::testing::Test {
  protected:
    enum class Target { File, NulDevice, None };

    void TearDown() override {
#ifdef _WIN32
        if (saved_) ::SetStdHandle(STD_OUTPUT_HANDLE, original_);
        if (target_ != INVALID_HANDLE_VALUE) ::CloseHandle(target_);
        if (!path_.empty()) ::DeleteFileA(path_.c_str());
#endif
    }

    ISystem& sys() { return contract::GetBackend().os().sys; }

    void Redirect(Target target) {
#ifdef _WIN32
        original_ = ::GetStdHandle(STD_OUTPUT_HANDLE);
        saved_ = true;
        if (target == Target::File) {
            char folder[MAX_PATH] = {};
            ASSERT_NE(0u, ::GetTempPathA(MAX_PATH, folder));
            path_ = std::string(folder) + contract::GetBackend().UniqueName("SweepStdOutput") + ".txt";
            target_ = ::CreateFileA(path_.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        } else if (target == Target::NulDevice) {
            target_ = ::CreateFileA("NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        }
        if (target != Target::None) ASSERT_NE(INVALID_HANDLE_VALUE, target_) << ::GetLastError();
        ASSERT_TRUE(::SetStdHandle(STD_OUTPUT_HANDLE, target == Target::None ? nullptr : target_));
#else
        auto& system = dynamic_cast<sim::SimSystem&>(sys());
        system.stdOutputType = target == Target::File        ? kFileTypeDisk
                               : target == Target::NulDevice ? kFileTypeChar
                                                             : kFileTypeUnknown;
        system.stdOutputConsole = false;
#endif
    }

    // What was written to the redirected file.
    std::string Written() {
#ifdef _WIN32
        std::string bytes(64, '\0');
        DWORD read = 0;
        ::SetFilePointer(target_, 0, nullptr, FILE_BEGIN);
        if (!::ReadFile(target_, &bytes[0], static_cast<DWORD>(bytes.size()), &read, nullptr))
            return "<unread>";
        bytes.resize(read);
        return bytes;
#else
        return dynamic_cast<sim::SimSystem&>(sys()).stdOutputBytes;
#endif
    }

  private:
#ifdef _WIN32
    HANDLE original_ = nullptr;
    HANDLE target_ = INVALID_HANDLE_VALUE;
    bool saved_ = false;
    std::string path_;
#endif
};

TEST_F(StdOutputContract, AFileTakesTheBytesUnchanged) {
    Redirect(Target::File);
    bool console = true;
    EXPECT_EQ(kFileTypeDisk, sys().GetStdOutputType(console));
    EXPECT_FALSE(console);
    const std::string bytes = "caf\xC3\xA9\r\n";
    uint32_t written = kSentinel;
    ASSERT_TRUE(sys().WriteStdOutput(bytes.data(), static_cast<uint32_t>(bytes.size()), written))
        << sys().GetLastError();
    EXPECT_EQ(bytes.size(), written);
    EXPECT_EQ(bytes, Written());
}

TEST_F(StdOutputContract, TheNulDeviceIsACharacterDeviceButNoConsole) {
    Redirect(Target::NulDevice);
    bool console = true;
    EXPECT_EQ(kFileTypeChar, sys().GetStdOutputType(console));
    EXPECT_FALSE(console) << "WriteConsoleW would fail on it";
    uint32_t written = kSentinel;
    EXPECT_TRUE(sys().WriteStdOutput("x\r\n", 3, written)) << sys().GetLastError();
    EXPECT_EQ(3u, written);
}

TEST_F(StdOutputContract, NoHandleIsAnUnknownTypeAndAWriteFailsWithInvalidHandle) {
    Redirect(Target::None);
    bool console = true;
    EXPECT_EQ(kFileTypeUnknown, sys().GetStdOutputType(console));
    EXPECT_FALSE(console);
    uint32_t written = kSentinel;
    EXPECT_FALSE(sys().WriteStdOutput("x", 1, written));
    EXPECT_EQ(kErrorInvalidHandle, sys().GetLastError());
    EXPECT_EQ(0u, written);
}

TEST_F(StdOutputContract, AProcessWithAConsoleCannotAttachAnotherAndWritesToItEvenWithoutAHandle) {
#ifdef _WIN32
    if (::GetConsoleCP() == 0)
        GTEST_SKIP() << "this test process runs without a console (run it on a terminal)";
#else
    // A dialog program that attached to its parent's console has one from then on.
    auto& sim = dynamic_cast<sim::SimSystem&>(sys());
    sim.parentConsole = true;
    ASSERT_TRUE(sys().AttachParentConsole());
    EXPECT_TRUE(sim.consoleAttached);
#endif
    EXPECT_FALSE(sys().AttachParentConsole());
    EXPECT_EQ(kErrorAccessDenied, sys().GetLastError());
    const std::u16string text = u"StdOutputContract: console line \u00e9\r\n";
    uint32_t written = kSentinel;
    ASSERT_TRUE(sys().WriteConsoleToStdOutput(text, written)) << sys().GetLastError();
    EXPECT_EQ(text.size(), written);
    // The console's screen buffer is reached without a standard output handle too.
    Redirect(Target::None);
    written = kSentinel;
    ASSERT_TRUE(sys().WriteConsoleToStdOutput(text, written)) << sys().GetLastError();
    EXPECT_EQ(text.size(), written);
}

#ifndef _WIN32
TEST(SimConsole, WithoutAParentConsoleNothingAttachesAndNothingIsWritten) {
    sim::SimMachine m;
    uint32_t written = kSentinel;
    EXPECT_FALSE(m.system.AttachParentConsole());
    EXPECT_EQ(kErrorInvalidHandle, m.system.GetLastError());
    EXPECT_FALSE(m.system.WriteConsoleToStdOutput(u"x", written));
    EXPECT_EQ(0u, written);
    EXPECT_TRUE(m.system.consoleOutputText.empty());
    // Attaching hands the process the console's handles when it had none.
    m.system.parentConsole = true;
    ASSERT_TRUE(m.system.AttachParentConsole());
    bool console = false;
    EXPECT_EQ(kFileTypeChar, m.system.GetStdOutputType(console));
    EXPECT_TRUE(console);
    ASSERT_TRUE(m.system.WriteConsoleToStdOutput(u"x\r\n", written));
    EXPECT_EQ(u"x\r\n", m.system.consoleOutputText);
}
#endif

}  // namespace
