// data_folder.h — where the demo and its tools read their files from.
//
// What it is for: the demo reads every file by bare name from its working
// directory, and an installed program is started from anywhere (a desktop
// menu, a terminal in the home folder, a double click in Explorer). The
// demo's `main` and the capture tool call this before anything is read.
//
// How it fails: it cannot stop anything: where no folder holds the files,
// the working directory stays and start-up fails as it would; where no log
// can be written, the log's path is empty and a line on stderr says so.
#pragma once

#include <string>

#include "platform/platform.h"

// Makes the folder the demo reads its files from the working directory: the
// working directory itself when it holds every file the demo reads (so a run
// folder always wins), else the first of `folders.data` that does; where
// none does it stays, and start-up fails as it would. Points the shader log
// at that folder when a file can be written there, else at `folders.state`
// (made when missing). Returns the log's path; empty, with a line on stderr,
// when neither can be written. Called by `main` and the capture tool before
// anything is read.
std::string EnterDataFolder(const platform::ProgramFolders& folders);
