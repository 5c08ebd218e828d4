#pragma once
// Whole-file reads and writes of the package cache. The product's services
// may hold the file open for a moment, so every open is retried (6 attempts,
// 100 ms apart). Content is raw bytes, zero bytes included.
#include <string>

constexpr int kFileOpenAttempts = 6;
constexpr unsigned kFileOpenRetryDelayMs = 100;

// The file's whole content; empty on any failure (and for an empty file).
std::string ReadTextFile(const std::wstring& path);

// Replaces the file's content. The bytes go to a temporary file in the same
// folder first, which takes the file's place (keeping its access list, owner
// and attributes) only once every byte is written and flushed, so that a
// failed write leaves the old content in place.
bool WriteContentToFile(const std::wstring& path, const std::string& content);
