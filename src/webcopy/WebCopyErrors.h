#pragma once
// Failure codes and texts of the transfer operations. A report is (code, text): the code
// is one of the engine's own below, an HTTP status of 300 or more, or a network-library
// error code. Each text ends in a blank and is followed directly by its operand.
#include <cstdint>
#include <string>

enum TWebCopyErrorCode {
    ecIdenticalFiles = 0,  // file copy: source and target path texts are equal
    ecOpenSource,          // file copy, FTP upload
    ecZeroLength,          // file copy
    ecCreateTarget,        // file copy, FTP download, HTTP download
    ecReadSource,          // file copy, FTP download and upload
    ecWriteTarget,         // file copy, FTP download and upload
    ecConnect,             // FTP operations, HTTP upload
    ecNotAvailable,        // a protocol this version of the component cannot run
    ecRefusedName          // FTP listing, multi-file download: an entry named like a path
};

// Operand: source path.
inline constexpr const char* TextIdenticalFiles = "Cannot copy identical files ";
inline constexpr const char* TextOpenSource = "Cannot open source file ";
inline constexpr const char* TextZeroLength = "Zero length source file ";
inline constexpr const char* TextReadSource = "Error reading source file ";
// Operand: the URL of a body that came without a length (the job does not allow that).
inline constexpr const char* TextUnconfirmedLength = "Length not confirmed by server for ";
// Operand: target path. TextCreateTarget for file copy and FTP download, TextCreateFile for
// the HTTP download.
inline constexpr const char* TextCreateTarget = "Cannot create target file ";
inline constexpr const char* TextCreateFile = "Cannot create file ";
inline constexpr const char* TextWriteTarget = "Error writing to destination file ";
// Operand: the item's FTPHost.
inline constexpr const char* TextConnectFtp = "Cannot connect to FTP server ";
// Operand: HostFromUrl of the upload URL.
inline constexpr const char* TextConnectServer = "Cannot connect to server ";
// Operand: the protocol's name ("wpFtp").
inline constexpr const char* TextNotAvailable = "Transfer kind not available in this version: ";
// Operand: the name as the server listed it.
inline constexpr const char* TextRefusedName = "Refused file name from server ";
// Operand: the HTTP status in decimal; the code reported is that status.
inline constexpr const char* TextHttpError = "Returned http error code ";

// The network library's message for `code`, as its message table stores it (line break at
// the end included). For a code the table does not hold, "Network error " + the code in
// decimal, so that a report never comes with an empty text.
std::string ErrorText(uint32_t code);
