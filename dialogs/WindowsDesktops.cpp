#include "dialogs/WindowsDesktops.h"

#include "contacts/XMLFile.h"
#include "files/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace lanquill::dialogs {

namespace {

// A file of a few hundred computers is some tens of KiB: anything far larger is not ours.
constexpr std::size_t MaxFileBytes = 1024 * 1024;

bool validId(const std::string& id) {
    return !id.empty() && std::none_of(id.begin(), id.end(), [](char c) {
        return static_cast<unsigned char>(c) < 0x20 || c == 0x7f;
    });
}

bool samePlace(const WindowsDesktop& desktop, const std::string& workgroup,
               const std::string& computer) {
    return contacts::foldId(desktop.workgroup) == contacts::foldId(workgroup) &&
           contacts::foldId(desktop.computer) == contacts::foldId(computer);
}

std::string trimmed(const std::string& line) {
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos)
        return {};
    return line.substr(first, line.find_last_not_of(" \t") - first + 1);
}

} // namespace

bool isValidWindowsAccount(const std::string& account) {
    const auto slash = account.find('\\');
    const std::string domain =
        slash == std::string::npos ? std::string() : account.substr(0, slash);
    const std::string user = slash == std::string::npos ? account : account.substr(slash + 1);
    const auto validPart = [](const std::string& part) {
        return !part.empty() && part.size() <= 104 &&
               QString::fromStdString(part).toStdString() == part && // UTF-8 whole
               std::none_of(part.begin(), part.end(), [](char c) {
                   return static_cast<unsigned char>(c) < 0x20 || c == 0x7f || c == '\\' ||
                          c == '/' || c == '=' || c == '[' || c == ']';
               });
    };
    return validPart(user) && (slash == std::string::npos || validPart(domain));
}

QString windowsKeyringKey(const std::string& account) {
    return QStringLiteral("windows/") + QString::fromStdString(account);
}

QString WindowsDesktops::defaultPath() {
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation) +
           QStringLiteral("/windows-desktops.ini");
}

std::string WindowsDesktops::format(const std::vector<WindowsDesktop>& desktops) {
    std::string text =
        "# Lanquill: computers of the contact book that are Windows 10/11 desktops,\n"
        "# sent to with an administrator's account. Passwords are in the keyring.\n";
    for (const WindowsDesktop& desktop : desktops) {
        text += "\n[computer]\nworkgroup=" + desktop.workgroup + "\nid=" + desktop.computer +
                "\naccount=" + desktop.account + "\n";
    }
    return text;
}

std::vector<WindowsDesktop> WindowsDesktops::parse(const std::string& text) {
    if (QString::fromUtf8(text.data(), qsizetype(text.size())).toUtf8().toStdString() != text)
        throw WindowsDesktopsError(tr("文件不是 UTF-8 文本。"));
    std::vector<WindowsDesktop> desktops;
    struct Open {
        WindowsDesktop desktop;
        int line = 0;
        bool workgroup = false, id = false, account = false;
    };
    std::optional<Open> open;
    const auto close = [&] {
        if (!open)
            return;
        if (!open->workgroup || !open->id || !open->account)
            throw WindowsDesktopsError(
                tr("第 %1 行的 [computer] 缺少 workgroup、id 或 account。").arg(open->line));
        for (const WindowsDesktop& earlier : desktops) {
            if (samePlace(earlier, open->desktop.workgroup, open->desktop.computer))
                throw WindowsDesktopsError(
                    tr("第 %1 行：工作组 %2 的计算机 %3 出现了两次。")
                        .arg(open->line)
                        .arg(QString::fromStdString(open->desktop.workgroup),
                             QString::fromStdString(open->desktop.computer)));
        }
        desktops.push_back(std::move(open->desktop));
        open.reset();
    };
    int number = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = std::min(text.find('\n', at), text.size());
        std::string raw = text.substr(at, end - at);
        at = end + 1;
        ++number;
        if (!raw.empty() && raw.back() == '\r')
            raw.pop_back();
        const std::string line = trimmed(raw);
        if (line.empty() || line.front() == '#' || line.front() == ';')
            continue;
        if (line == "[computer]") {
            close();
            open = Open{{}, number};
            continue;
        }
        const auto equals = line.find('=');
        if (!open || equals == std::string::npos)
            throw WindowsDesktopsError(tr("第 %1 行无法识别。").arg(number));
        const std::string key = trimmed(line.substr(0, equals));
        // The value is what follows the '=' to the end of the line, blanks included: an id may
        // end in one.
        const std::string value = raw.substr(raw.find('=') + 1);
        bool* seen = nullptr;
        std::string* field = nullptr;
        if (key == "workgroup") {
            seen = &open->workgroup;
            field = &open->desktop.workgroup;
        } else if (key == "id") {
            seen = &open->id;
            field = &open->desktop.computer;
        } else if (key == "account") {
            seen = &open->account;
            field = &open->desktop.account;
        } else {
            throw WindowsDesktopsError(tr("第 %1 行无法识别。").arg(number));
        }
        if (*seen)
            throw WindowsDesktopsError(tr("第 %1 行：%2 在同一节中出现了两次。")
                                           .arg(number)
                                           .arg(QString::fromStdString(key)));
        const bool valid = key == "account" ? isValidWindowsAccount(value) : validId(value);
        if (!valid)
            throw WindowsDesktopsError(
                tr("第 %1 行：%2 的值无效。").arg(number).arg(QString::fromStdString(key)));
        *seen = true;
        *field = value;
    }
    close();
    return desktops;
}

std::vector<WindowsDesktop> WindowsDesktops::load() const {
    const std::string path = QFile::encodeName(path_).toStdString();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0 && errno == ENOENT)
        return {};
    const auto fault = [this](const QString& why) {
        return WindowsDesktopsError(tr("Windows 桌面列表 %1 有误：%2").arg(path_, why));
    };
    if (fd < 0)
        throw fault(QString::fromLocal8Bit(std::strerror(errno)));
    std::string text;
    char chunk[8192];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            const int error = errno;
            ::close(fd);
            throw fault(QString::fromLocal8Bit(std::strerror(error)));
        }
        if (got == 0)
            break;
        text.append(chunk, std::size_t(got));
        if (text.size() > MaxFileBytes) {
            ::close(fd);
            throw fault(tr("文件太大。"));
        }
    }
    ::close(fd);
    try {
        return parse(text);
    } catch (const WindowsDesktopsError& error) {
        throw fault(error.text());
    }
}

std::optional<std::string> WindowsDesktops::account(const std::string& workgroup,
                                                    const std::string& computer) const {
    for (const WindowsDesktop& desktop : load()) {
        if (samePlace(desktop, workgroup, computer))
            return desktop.account;
    }
    return std::nullopt;
}

std::vector<WindowsDesktop> WindowsDesktops::inWorkgroup(const std::string& workgroup) const {
    std::vector<WindowsDesktop> found;
    for (WindowsDesktop& desktop : load()) {
        if (contacts::foldId(desktop.workgroup) == contacts::foldId(workgroup))
            found.push_back(std::move(desktop));
    }
    return found;
}

void WindowsDesktops::set(const std::string& workgroup, const std::string& computer,
                          const std::string& account) const {
    if (!account.empty() && !isValidWindowsAccount(account))
        throw WindowsDesktopsError(tr("管理员账户 %1 无效：应为“用户名”或“域\\用户名”。")
                                       .arg(QString::fromStdString(account)));
    if (!validId(workgroup) || !validId(computer))
        throw WindowsDesktopsError(tr("工作组或计算机名无效。"));
    std::vector<WindowsDesktop> desktops = load(); // a broken file stops here, untouched
    const auto held = std::find_if(desktops.begin(), desktops.end(), [&](const WindowsDesktop& d) {
        return samePlace(d, workgroup, computer);
    });
    if (account.empty()) {
        if (held == desktops.end())
            return; // nothing to clear: no file is made for it
        desktops.erase(held);
    } else if (held != desktops.end()) {
        if (held->account == account)
            return;
        held->account = account;
    } else {
        desktops.push_back({workgroup, computer, account});
    }
    QDir().mkpath(QFileInfo(path_).absolutePath());
    const files::ReplaceResult written =
        files::replaceFile(QFile::encodeName(path_).toStdString(), format(desktops), {});
    if (!written)
        throw WindowsDesktopsError(
            tr("无法写入 Windows 桌面列表 %1：%2")
                .arg(path_, QString::fromLocal8Bit(std::strerror(written.failure->error))));
}

} // namespace lanquill::dialogs
