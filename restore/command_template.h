// The copy command line: the built-in template and the substitution of its two placeholders.
#pragma once
#include <string>
#include <string_view>

// The template used when none was saved and by the Default button.
inline constexpr std::string_view kDefaultCommandTemplate =
    "robocopy <SRC> <DST> /COPYALL /E /R:0 /W:0 /B /XJ /NP /LOG:<DST>Harvesta.txt /TEE "
    "/XD \"<SRC>System Volume Information\" /XF pagefile.sys hiberfil.sys";

// Every "<SRC>" becomes the virtual drive's root (letter, ":\"), then every "<DST>" the
// destination text as shown. Case-sensitive; inserted text is never scanned again.
std::string SubstituteCommandTemplate(std::string_view commandTemplate, char virtualLetter,
                                      std::string_view destination);
// The same with the source given as a folder (on Linux, the partition's mount point).
std::string SubstituteCommandFolders(std::string_view commandTemplate, std::string_view source,
                                     std::string_view destination);
