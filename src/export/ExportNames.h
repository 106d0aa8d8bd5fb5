// The name rules of the Export List command, as plain functions.
#pragma once

#include <string>

// The documents folder as the Save As dialog starts in it: one trailing
// backslash removed, except after a colon (C:\) or for a single character.
std::string ExportInitialFolder(const std::string& documents);

// From the last "." after the last "\" and ":", the dot included, with the
// letters A to Z lowered; "" when there is no such dot.
std::string ExportExtension(const std::string& path);

// Whether the chosen name gets the Vantro list format.
bool IsVantroName(const std::string& path);
