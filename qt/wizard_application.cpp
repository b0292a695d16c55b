#include "UnitOrvane/wizard_mode.h"

#include <QApplication>
#include <QGuiApplication>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <thread>

#include "qt/wizard_window.h"

namespace {

constexpr auto ProbeTimeLimit = std::chrono::seconds(10);
constexpr auto ProbePoll = std::chrono::milliseconds(10);

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Qt takes its arguments by reference and keeps them for the application's lifetime.
struct TQtArguments {
    explicit TQtArguments(std::string program) : name(std::move(program)) {}
    TQtArguments(const TQtArguments&) = delete;
    TQtArguments& operator=(const TQtArguments&) = delete;
    std::string name;
    int count = 1;
    char* values[2] = {name.data(), nullptr};
};

void ReportNoDisplay() {
    std::cerr << "orvane: the update wizard needs a graphical display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)"
              << std::endl;
}

// While the application connects to its display: Qt's own handler, and standard error itself.
QtMessageHandler qtHandler = nullptr;
int displayedError = -1;

// A fatal message while the application connects can only be the platform's failure to start.
void EndOnFatal(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        qtHandler(type, context, text);
        return;
    }
    dup2(displayedError, STDERR_FILENO);
    ReportNoDisplay();
    _exit(1);
}

// Writes what was held back to standard error.
void PassOn(FILE* held) {
    std::rewind(held);
    char block[4096];
    for (size_t got; (got = std::fread(block, 1, sizeof block, held)) > 0;) std::fwrite(block, 1, got, stderr);
    std::fclose(held);
}

// A display that passed the probe can still fail the application's own connection (it went away meanwhile, or
// takes no further client); Qt and the X libraries would then write several lines, and Qt abort. So standard
// error goes to a file until the application has connected, and is passed on only then; a failure ends the
// program as a missing display does.
std::unique_ptr<QApplication> StartApplication(TQtArguments& arguments) {
    FILE* held = std::tmpfile();
    displayedError = dup(STDERR_FILENO);
    if (held) dup2(fileno(held), STDERR_FILENO);
    qtHandler = qInstallMessageHandler(EndOnFatal);
    auto application = std::make_unique<QApplication>(arguments.count, arguments.values);
    qInstallMessageHandler(qtHandler);
    dup2(displayedError, STDERR_FILENO);
    close(displayedError);
    if (held) PassOn(held);
    return application;
}

[[noreturn]] void ProbeInChild() {
    const int null = open("/dev/null", O_WRONLY);
    if (null >= 0) {
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
    }
    TQtArguments arguments("orvane");
    QGuiApplication probe(arguments.count, arguments.values);
    _exit(0);
}

// Waits for the probe; a platform that hangs on its display counts as unusable.
bool ProbeSucceeded(pid_t child) {
    const auto deadline = std::chrono::steady_clock::now() + ProbeTimeLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        if (waitpid(child, &status, WNOHANG) == child) return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        std::this_thread::sleep_for(ProbePoll);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    return false;
}

bool PlatformStartsInChild() {
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) ProbeInChild();
    return ProbeSucceeded(child);
}

// True when Qt can open windows here. Without a display server named in the environment this is known at once;
// otherwise the platform is tried in a child process, because Qt ends a process whose platform fails to start.
bool GraphicalDisplayUsable() {
    const std::string platform = Environment("QT_QPA_PLATFORM");
    if (platform.empty() && Environment("DISPLAY").empty() && Environment("WAYLAND_DISPLAY").empty()) return false;
    // These platforms draw into memory and need no display server.
    if (platform.starts_with("offscreen") || platform.starts_with("minimal")) return true;
    return PlatformStartsInChild();
}

}  // namespace

int RunWizardApplication(const std::vector<std::string>& arguments) {
    if (!GraphicalDisplayUsable()) {
        ReportNoDisplay();
        return 1;
    }
    TQtArguments qtArguments(arguments.empty() ? "orvane" : arguments.front());
    const std::unique_ptr<QApplication> application = StartApplication(qtArguments);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    TWizardWindow wizard(arguments);
    return wizard.Exec();
}
