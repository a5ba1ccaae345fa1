#pragma once

#include <functional>
#include <string>

// How a job asks the user for a destination folder: a function that shows
// a chooser (folders only, no way to create one) without blocking, opened
// in startFolder (the items' folder), and later calls done. accepted is
// false when the user cancelled; folder is empty when the chooser was
// confirmed without yielding a folder.
using FolderChosen = std::function<void(bool accepted, const std::string& folder)>;
using ChooseFolder = std::function<void(const std::string& startFolder, FolderChosen done)>;
