#include "SystemTextMatch.h"

::testing::AssertionResult reportedWithSomeSystemText(const std::string& output, const std::string& head) {
    if (output.compare(0, head.size(), head) != 0 || output.size() < head.size() + 2 || output.back() != '\n')
        return ::testing::AssertionFailure() << "got \"" << output << "\"";
    const std::string text = output.substr(head.size(), output.size() - head.size() - 1);
    if (text.find_first_of("\r\n") != std::string::npos)
        return ::testing::AssertionFailure() << "system text \"" << text << "\" is not one clean line";
    return ::testing::AssertionSuccess();
}
