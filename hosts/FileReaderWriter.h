#pragma once
// Reads and writes a text file as a list of lines through a wide-character
// stream in the classic "C" locale and text mode: each byte becomes the code
// unit of the same value and back, CR LF becomes one line feed on reading and
// every line feed CR LF on writing, and a 0x1A byte ends the reading.
#include <fstream>
#include <string>
#include <vector>

// One string a line, without line terminators.
using LineList = std::vector<std::wstring>;

class FileReaderWriter {
public:
    // The stream belongs to the caller, who opens and closes it.
    explicit FileReaderWriter(std::wfstream& stream) : stream_(stream) {}

    // 0 read to the end, 1 stream not open or not good, 2 a read failed.
    // A file ending with a terminator gives an empty last line, an empty file
    // one empty line: written back, the list gives the same terminators.
    int read(LineList& lines);

    // 0 written, 1 stream not open or not good, 3 a write failed (a code
    // unit above 0xFF has no byte and fails the write). Lines are joined by
    // terminators; none follows the last line.
    int write(const LineList& lines);

private:
    std::wfstream& stream_;
};
