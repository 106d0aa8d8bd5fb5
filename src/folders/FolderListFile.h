// FolderList.txt as the menu merges it at every display: a small file's
// bytes are kept from one reading to the next while nothing shows that the
// file changed, so that most displays open no file.
#pragma once

#include "folders/MRUStringList.h"
#include "platform/File.h"

#include <string>

// Merges the file as MergeFile would; stamp is what its existence test
// found. Its bytes come from memory when they were kept under that stamp.
void MergeFolderListFile(TMRUStringList& list, const std::string& path, const platform::FileStamp& stamp);

// The file is gone: what was kept of it goes too.
void ForgetFolderListFile();
