#pragma once

// A test program that links tavrune_refusedlibraries stands in front of the dynamic loader:
// the files named here are refused as if they were missing, and every open is counted.
#include <set>
#include <string>

// Refuses these base names (libFLAC.so.12) from now on; an empty set refuses nothing.
void RefuseLibraries(std::set<std::string> Files);

// How often the process has opened this base name.
int LibraryOpenCount(const std::string& File);
