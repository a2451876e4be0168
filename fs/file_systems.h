// The file systems imgpry reads, one accessor each; fs/registry.cpp holds
// the order in which they are tried.
#pragma once

#include "file_system.h"

namespace imgpry::fs {

FileSystem& fat12FileSystem();
FileSystem& builtinFileSystem();
FileSystem& huBasicFileSystem();
FileSystem& n88BasicFileSystem();
FileSystem& cpmFileSystem();

}  // namespace imgpry::fs
