// POSIX entry: the arguments are joined into one command line, as Windows would hand it over,
// and given to the same start-up as the Windows program.
#include <cstdio>
#include <string>
#include <vector>

#include "app/CommandLine.h"
#include "app/UpdateApp.h"

int main(int argc, char** argv) {
    static std::string portName;
    static std::string imagePath;
    UpdateApp app(portName, imagePath, [] {
        std::printf("Port: %s\nImage: %s\n", portName.c_str(), imagePath.c_str());
    });
    app.InitInstance(JoinArguments(std::vector<std::string>(argv + 1, argv + argc)));
    return 0;
}
