// How the window's program starts and ends outside a desktop session: the private
// runtime folder it makes when XDG_RUNTIME_DIR is unset (as root, or through pkexec), and
// Ctrl-C or SIGTERM turned into a clean quit.

#include "app/quitonsignal.h"
#include "app/runtimedir.h"
#include "tests/support/files.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QProcess>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <sstream>

namespace velo
{
namespace
{

using namespace velo::testing;

struct FolderState {
    bool folder = false;
    bool link = false;
    unsigned mode = 0;
    unsigned owner = 0;
};

FolderState stateOf(const fs::path& path)
{
    struct stat st {
    };
    if (::lstat(path.c_str(), &st) != 0)
        return {};
    return {S_ISDIR(st.st_mode), S_ISLNK(st.st_mode), unsigned(st.st_mode & 07777),
            unsigned(st.st_uid)};
}

struct RuntimeDirCase {
    const char* name;
    // Puts something under the name the folder would have, for the user `uid`.
    std::function<void(const fs::path& stable, const fs::path& base)> before;
    bool stableTaken; // whether that name is the answer
};

class RuntimeDir : public ::testing::TestWithParam<RuntimeDirCase>
{
};

TEST_P(RuntimeDir, IsAFolderOfOursAloneAndLeavesWhatWasThereAsItWas)
{
    ScratchDir base;
    const unsigned uid = ::geteuid();
    const fs::path stable = base / ("velo-recovery-runtime-" + std::to_string(uid));
    GetParam().before(stable, base.path);
    const FolderState was = stateOf(stable);

    const std::string got = privateRuntimeDir(base.path.string(), uid);

    ASSERT_FALSE(got.empty());
    EXPECT_EQ(fs::path(got).parent_path(), base.path);
    const FolderState made = stateOf(got);
    EXPECT_TRUE(made.folder);
    EXPECT_EQ(made.mode, 0700u);
    EXPECT_EQ(made.owner, uid);
    EXPECT_EQ(got == stable.string(), GetParam().stableTaken) << got;
    if (!GetParam().stableTaken) {
        const FolderState after = stateOf(stable);
        EXPECT_EQ(after.mode, was.mode);
        EXPECT_EQ(after.link, was.link);
        EXPECT_TRUE(fileNames(base / "target").empty()) << "written through the link";
    }
    // A second start finds the same folder.
    EXPECT_EQ(privateRuntimeDir(base.path.string(), uid) == stable.string(),
              GetParam().stableTaken);
}

INSTANTIATE_TEST_SUITE_P(
    Startup, RuntimeDir,
    ::testing::Values(
        RuntimeDirCase{"NothingThereYet", [](const fs::path&, const fs::path&) {}, true},
        RuntimeDirCase{"OursFromAnEarlierStart",
                       [](const fs::path& stable, const fs::path&) {
                           ASSERT_EQ(::mkdir(stable.c_str(), 0700), 0);
                       },
                       true},
        RuntimeDirCase{"ALinkPlantedUnderTheName",
                       [](const fs::path& stable, const fs::path& base) {
                           ASSERT_EQ(::mkdir((base / "target").c_str(), 0700), 0);
                           fs::create_directory_symlink(base / "target", stable);
                       },
                       false},
        RuntimeDirCase{"AFolderOthersMayEnter",
                       [](const fs::path& stable, const fs::path&) {
                           ASSERT_EQ(::mkdir(stable.c_str(), 0700), 0);
                           ASSERT_EQ(::chmod(stable.c_str(), 0755), 0);
                       },
                       false},
        RuntimeDirCase{"AFileUnderTheName",
                       [](const fs::path& stable, const fs::path&) { writeText(stable, "x"); },
                       false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Startup, RuntimeDirOfAnotherUserIsNotTaken)
{
    ScratchDir base;
    const unsigned other = ::geteuid() + 1;
    const fs::path stable = base / ("velo-recovery-runtime-" + std::to_string(other));
    ASSERT_EQ(::mkdir(stable.c_str(), 0700), 0); // ours, under the other user's name
    const std::string got = privateRuntimeDir(base.path.string(), other);
    EXPECT_NE(got, stable.string());
    EXPECT_FALSE(got.empty());
}

struct SignalCase {
    const char* name;
    int number;
};

class QuitsOn : public ::testing::TestWithParam<SignalCase>
{
};

// The handler runs the callback from the event loop, and the signal's default effect
// (ending the test program) comes back once the object is gone.
TEST_P(QuitsOn, TheSignalReachesTheEventLoop)
{
    QEventLoop loop;
    int calls = 0;
    {
        QuitOnSignal quit([&] {
            ++calls;
            loop.quit();
        });
        QTimer::singleShot(0, [&] { ::raise(GetParam().number); });
        QTimer::singleShot(20000, &loop, [&] { loop.exit(1); }); // a guard, not a timing
        EXPECT_EQ(loop.exec(), 0) << "the signal never reached the loop";
        EXPECT_EQ(calls, 1);
        EXPECT_EQ(quit.lastSignal(), GetParam().number);
    }
    struct sigaction now {
    };
    ASSERT_EQ(::sigaction(GetParam().number, nullptr, &now), 0);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

// Whether the process `pid` has a handler for signal `number` (its SigCgt mask).
bool catches(qint64 pid, int number)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("SigCgt:", 0) == 0) {
            const unsigned long long mask = std::stoull(line.substr(7), nullptr, 16);
            return (mask >> (number - 1)) & 1;
        }
    }
    return false;
}

// The real program, started as root starts it on a machine without a session: no
// XDG_RUNTIME_DIR. It says nothing, and the signal ends it with status 0.
TEST_P(QuitsOn, TheProgramEndsCleanlyAndQuietly)
{
    ScratchDir tmp;
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    env.insert(QStringLiteral("TMPDIR"), QString::fromStdString(tmp.path.string()));
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // Under the sanitizers: what is said at exit is this test's, not a leak report.
    const QString asan = env.value(QStringLiteral("ASAN_OPTIONS"));
    env.insert(QStringLiteral("ASAN_OPTIONS"),
               (asan.isEmpty() ? QString() : asan + u':') + QStringLiteral("detect_leaks=0"));
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(VELO_RECOVERY_BINARY), {});
    ASSERT_TRUE(program.waitForStarted());
    // Until its handler is in place (a guard of a minute, not a timing).
    const QDeadlineTimer guard(60000);
    while (program.state() == QProcess::Running &&
           !catches(program.processId(), GetParam().number) && !guard.hasExpired())
        program.waitForFinished(50);
    ASSERT_EQ(program.state(), QProcess::Running) << program.readAllStandardError().toStdString();
    ASSERT_TRUE(catches(program.processId(), GetParam().number)) << "no handler for the signal";
    ::kill(pid_t(program.processId()), GetParam().number);
    ASSERT_TRUE(program.waitForFinished(60000));
    const std::string said = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program.exitCode(), 0) << said;
    EXPECT_EQ(said, "");
    EXPECT_EQ(stateOf(tmp / ("velo-recovery-runtime-" + std::to_string(::geteuid()))).mode, 0700u);
}

INSTANTIATE_TEST_SUITE_P(Startup, QuitsOn,
                         ::testing::Values(SignalCase{"SIGINT", SIGINT},
                                           SignalCase{"SIGTERM", SIGTERM}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace velo
