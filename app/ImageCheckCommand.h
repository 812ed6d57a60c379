#pragma once
// The dry run a user makes before plugging anything in: `/file PATH /check` lists what an
// update would write and says whether it can, touching no port.
#include <memory>
#include <ostream>
#include <string>

#include "app/ExitStatus.h"
#include "app/TargetChoice.h"
#include "image/ImageCheck.h"

// What a request with this choice would load and write: the image as the flash upload (or the
// run image) takes it, and for a boot upload the flash loader. The parses checked are the ones
// the request carries.
struct RequestCheck {
    Result verdict;
    std::shared_ptr<const ParsedImage> parsed;
    ImageCheck image;
    LoaderCheck loader;
};

RequestCheck CheckRequest(const std::shared_ptr<const FileBytes>& image,
                          const TargetChoice& choice);

// Checks the image named by /file: the listing and the verdict go to out, a command line
// without /file is told on err. 0 for a usable image, ImageUnusable otherwise.
ExitStatus RunImageCheck(const std::string& commandLine, const TargetChoice& choice,
                         std::ostream& out, std::ostream& err);
