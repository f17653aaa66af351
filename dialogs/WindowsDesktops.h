// The computers of the contact book that are Windows 10/11 desktops, sent to with an
// administrator's account instead of the Messenger service. Kept in a small file of their own
// beside the program's settings, so that the book's format stays as it is; the password of each
// account lives only in the desktop keyring (key "windows/" + the account as typed).
//
// The file, UTF-8, one section a computer:
//
//   [computer]
//   workgroup=SCHOOL
//   id=PC-01
//   account=SCHOOL\admin
//
// Blank lines and lines starting with '#' or ';' are left alone. Workgroup and computer compare as
// the book's ids do (ASCII letters folded). Anything else makes the file broken: it is then
// never written over, and every use of it says where it is broken.
#pragma once

#include <QCoreApplication>
#include <QString>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace lanquill::dialogs {

// A fault of the file: its text is meant for the user.
class WindowsDesktopsError : public std::runtime_error {
public:
    explicit WindowsDesktopsError(const QString& text)
        : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& text() const { return text_; }

private:
    QString text_;
};

struct WindowsDesktop {
    std::string workgroup;
    std::string computer; // the book's id
    std::string account;  // [DOMAIN\]USER
    bool operator==(const WindowsDesktop&) const = default;
};

// Whether `account` can be given to lanquill-net: USER or DOMAIN\USER, each part 1..104 bytes of
// printable characters without '\', '/', '=', '[' or ']' (what a Windows account name allows).
bool isValidWindowsAccount(const std::string& account);

// The keyring key of an account's password.
QString windowsKeyringKey(const std::string& account);

class WindowsDesktops {
    Q_DECLARE_TR_FUNCTIONS(lanquill::dialogs::WindowsDesktops)

public:
    // The file the program uses: windows-desktops.ini beside lanquill.conf.
    static QString defaultPath();

    explicit WindowsDesktops(QString path) : path_(std::move(path)) {}

    // The marked computers; none when the file does not exist. Throws WindowsDesktopsError when
    // it cannot be read or is broken.
    std::vector<WindowsDesktop> load() const;
    // The account of one computer, if it is marked.
    std::optional<std::string> account(const std::string& workgroup,
                                       const std::string& computer) const;
    // Those of a workgroup page, in the file's order.
    std::vector<WindowsDesktop> inWorkgroup(const std::string& workgroup) const;

    // Marks the computer with `account`, or clears its mark when `account` is empty; the file is
    // replaced whole and atomically. Throws WindowsDesktopsError (the file then untouched) for a
    // broken file, an invalid account, or a failed write.
    void set(const std::string& workgroup, const std::string& computer,
             const std::string& account) const;

    // The file's text for `desktops`, and its reading (throws for a broken text).
    static std::string format(const std::vector<WindowsDesktop>& desktops);
    static std::vector<WindowsDesktop> parse(const std::string& text);

private:
    QString path_;
};

} // namespace lanquill::dialogs
