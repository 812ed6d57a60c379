#pragma once
// The dry run a user makes before plugging anything in: `/file PATH /check` lists what an
// update would write and says whether it can, touching no port.
#include <ostream>
#include <string>

#include "app/ExitStatus.h"

// Checks the image named by /file: the listing and the verdict go to out, a command line
// without /file is told on err. 0 for a usable image, ImageUnusable otherwise.
ExitStatus RunImageCheck(const std::string& commandLine, std::ostream& out, std::ostream& err);
