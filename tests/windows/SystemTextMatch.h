#pragma once

#include <gtest/gtest.h>

#include <string>

// Whether output is one report line: head, then some system text, then the
// line end. The text's wording is the system's own and differs between
// Windows and Wine ("The system cannot find the file specified." against
// "File not found."), so only its shape is checked: present, one clean line.
::testing::AssertionResult reportedWithSomeSystemText(const std::string& output, const std::string& head);
