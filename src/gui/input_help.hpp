// The input description: what every line of an input file holds, in the order the
// run reads it, with examples of measured-scan lists and of whole input files. The
// shell's help command writes it to the file input_help, shows it and removes it.
#pragma once
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

namespace kaven::gui {

// The description, one line each (at most 78 characters).
std::span<const std::string_view> input_description();

// Writes the description to `file`, replacing what it held. Returns "" on success,
// otherwise why it could not be written.
std::string in_help(const std::filesystem::path& file);

}  // namespace kaven::gui
