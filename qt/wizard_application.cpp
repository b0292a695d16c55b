#include "qt/wizard_application.h"

#include <QApplication>
#include <QGuiApplication>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
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

}  // namespace

bool GraphicalDisplayUsable() {
    const std::string platform = Environment("QT_QPA_PLATFORM");
    if (platform.empty() && Environment("DISPLAY").empty() && Environment("WAYLAND_DISPLAY").empty()) return false;
    // These platforms draw into memory and need no display server.
    if (platform.starts_with("offscreen") || platform.starts_with("minimal")) return true;
    return PlatformStartsInChild();
}

int RunWizardApplication(const std::vector<std::string>& arguments) {
    if (!GraphicalDisplayUsable()) {
        std::cerr << "orvane: the update wizard needs a graphical display (set DISPLAY, or QT_QPA_PLATFORM=offscreen)"
                  << std::endl;
        return 1;
    }
    TQtArguments qtArguments(arguments.empty() ? "orvane" : arguments.front());
    QApplication application(qtArguments.count, qtArguments.values);
    QApplication::setApplicationName(QStringLiteral("Orvane"));
    TWizardWindow wizard(arguments);
    if (!wizard.Open()) return 0;
    return QApplication::exec();
}
