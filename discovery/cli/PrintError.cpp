#include "discovery/cli/PrintError.h"

#include "support/VisibleText.h"

#include <iostream>

void PrintError(const std::string& text) {
    std::cout.flush();
    std::cerr << "pellory-cli: " << VisibleText(text) << std::endl;
}
