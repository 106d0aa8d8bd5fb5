// The Vantro list file: a signature line, then every entry in index order.
#pragma once

#include "folders/MRUStringList.h"
#include "platform/File.h"

#include <string>

constexpr char VANTRO_LIST_SIGNATURE[] = "{5B585BC9-5C80-4a86-8B15-9EAF2FF9ED3F}";

// Writes the list; raises IOError at the first step that fails. Never
// changes the list or its Dirty flag.
void WriteVantroList(const TMRUStringList& list, const std::string& path);

// Writes RecentFolders.
void WriteVantroList(const std::string& path);

// The agent's own file, which a reader may hold open: replaced by one
// rename, so that a reader never finds it missing or half written, or,
// where the reader forbids that but allows writing, written over in place.
// Raises the replacing's error when neither can be begun, else the error of
// the step in place that failed.
void WriteOwnVantroList(const TMRUStringList& list, const std::string& path);
