#pragma once
// Inputs shaped like what the program archives, generated from a seed so
// that every run and every tool sees the same bytes.
#include <cstddef>
#include <filesystem>
#include <string>

namespace generated {

// Registry export text: keys, GUIDs, paths, dwords, hex runs.
std::string registryText(size_t bytes, unsigned seed);

// A CREG hive of about `bytes` bytes, as System.dat holds them: COM classes
// with their servers, PCI devices with binary configuration, uninstall
// entries.
std::string cregHive(size_t bytes, unsigned seed);

// Writes registryText to `file` in 4 MiB pieces.
void writeRegistryText(const std::filesystem::path& file, size_t bytes, unsigned seed);

}  // namespace generated
