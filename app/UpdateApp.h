#pragma once
#include <functional>
#include <string>

// The application object: reads the command line into the two process-wide texts and runs
// the main dialog modally. The platform supplies how the dialog is run.
class UpdateApp {
  public:
    using DialogRunner = std::function<void()>;

    UpdateApp(std::string& portName, std::string& imagePath, DialogRunner runDialog)
        : portName_(portName), imagePath_(imagePath), runDialog_(std::move(runDialog)) {}

    // Always false: the process ends when it returns. Without both values nothing is shown,
    // no thread is started and no port is opened.
    bool InitInstance(const std::string& commandLine);

  private:
    std::string& portName_;
    std::string& imagePath_;
    DialogRunner runDialog_;
};
