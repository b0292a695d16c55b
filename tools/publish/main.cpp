// orvane-publish: the command line of the release publisher.
#include <iostream>

#include "tools/publish/publish.h"

int main(int argc, char** argv) {
    try {
        const TPublishOptions options = ParsePublishArguments(std::vector<std::string>(argv + 1, argv + argc));
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
