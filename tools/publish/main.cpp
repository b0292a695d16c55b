// orvane-publish: the command line of the release publisher.
#include <iostream>

#include "tools/publish/publish.h"

int main(int argc, char** argv) {
    try {
        const std::vector<std::string> arguments(argv + 1, argv + argc);
        if (!arguments.empty() && arguments[0] == "keygen") {
            for (const std::string& line : RunKeygen({arguments.begin() + 1, arguments.end()})) std::cout << line << '\n';
            return 0;
        }
        const TPublishOptions options = ParsePublishArguments(arguments);
        if (options.Help) {
            std::cout << PublishHelpText();
            return 0;
        }
        for (const std::string& line : PublishRelease(options)) std::cout << line << '\n';
        return 0;
    } catch (const EPublishUsage& failure) {
        std::cerr << "orvane-publish: " << failure.what() << " (see --help)" << std::endl;
        return 2;
    } catch (const std::exception& failure) {
        std::cerr << "orvane-publish: " << failure.what() << std::endl;
        return 1;
    }
}
