#pragma once
// Reading signature definition files into definitions, as the raw recovery page does on Parse.
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "common/sinks.h"
#include "raw/signature_definition.h"
#include "raw/signature_record.h"

namespace halvard {

// The default file ships beside the program; a user file is one the user chose. They differ in how failures
// show and in one extra check (see readSignatureFile).
enum class SignatureFileKind { Default, User };

inline constexpr const char* kDefaultSignatureFileName = "FileSetting.txt";

// The default file's path: "FileSetting.txt" beside the running program (or where an installed program keeps it).
std::string defaultSignaturePath();

// Reads a file's definitions. The count comes from the last record's index (+1), not from the file length.
// Failures show through `reporting` ("Cannot open the selected file" for a user file, nothing for a missing
// default file; "Please select a valid file.." for a damaged one) and yield nullopt: nothing is loaded from that
// file. `alreadyLoaded` definitions are in the engine: a file that would take it past 256 is refused. A record
// whose signatures or size field cannot be used is left out with a message naming it.
std::optional<std::vector<SignatureDefinition>> readSignatureFile(const std::string& path, SignatureFileKind kind,
                                                                  std::size_t alreadyLoaded,
                                                                  const Reporting& reporting);

// Why a record cannot serve as a definition; empty when it can. Shared by the reader and the editor.
std::string signatureRecordProblem(const SignatureRecord& record);

// The in-memory definition of a record that passed signatureRecordProblem.
SignatureDefinition definitionFromRecord(const SignatureRecord& record);

}  // namespace halvard
