#pragma once
// The three actions that start the upgrade of an installed product once the
// user has accepted it. The caller runs AddOperatorIDSegmentation,
// ModifyVRKSCache and TriggerUpdate in that order, each unconditionally; the
// upgrade has started when the last two both return true.
#include <string>

// Marks the machine with the retail operator: HKLM (32-bit view)
// "SOFTWARE\K-Vantor\QMT\KVAUA\Segmentations" value "OPERATOR" = "666". The
// key is never created: a missing key fails.
bool AddOperatorIDSegmentation();

// Makes the product's cached package definitions ignore throttling. False
// when the cache is missing or unreadable or cannot be written back; true
// when it holds nothing to edit.
bool ModifyVRKSCache();

// Sends the product's daemon the message that makes it check for updates at
// once, through the product's IPC library. False when the library cannot be
// loaded or the message was not taken.
bool TriggerUpdate();

// Turns every "productDefinitionVersion" in content into
// "aroductDefinitionVersion", in place; the length does not change. True
// when at least one was edited.
bool MakePackagesToIgnoreThrottling(std::string& content);

// The machine's common application-data folder; empty on failure.
std::wstring GetFolderPath();

// Where the product caches its package definitions, below that folder.
constexpr const wchar_t* kPackageCacheSubPath = L"\\K-Vantor\\VRKS\\666\\packages";
