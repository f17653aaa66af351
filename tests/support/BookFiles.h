// The contact book and other files as Qt tests compare them: bytes as QByteArray, and the book
// as lines of text that show every group, computer and field in file order.
#pragma once

#include <QByteArray>
#include <QStringList>

#include <string>

namespace lanquill::testsupport {

// The whole file; "<cannot open>" when it cannot be read, so that no expected content matches.
QByteArray fileBytes(const std::string& path);

// Replaces the file with `bytes`; failing to is a failed check of the calling test.
void writeBytes(const std::string& path, const QByteArray& bytes);

// The book in the file at `path`: one line per group, "ID: COMPUTER[field=text;...] ...".
QStringList bookOnDisk(const std::string& path);

// The computers of group `group` in the file at `path`, one line each: "COMPUTER[field=text;...]".
QStringList groupOnDisk(const std::string& path, const std::string& group);

} // namespace lanquill::testsupport
