#include "dialogs/WindowsSend.h"

#include "desktop/Language.h"
#include "desktop/OffGuiThread.h"
#include "dialogs/WindowsDesktops.h"

#include <QCoreApplication>
#include <QRegularExpression>
#include <QStringList>

#include <algorithm>
#include <future>
#include <map>

namespace lanquill::dialogs {

namespace {

// lanquill-net takes 1..1000 characters (code points).
constexpr qsizetype MaxTextCharacters = 1000;

// Sends that run side by side: each waits mostly on the network, up to lanquill-net's deadline.
constexpr std::size_t SendsAtOnce = 8;

// "lanquill-net: " or the Chinese "lanquill-net：" before the rest of a line.
bool stripLead(QString& line, const QString& lead) {
    if (!line.startsWith(lead))
        return false;
    QString rest = line.mid(lead.size());
    if (!rest.startsWith(QLatin1Char(':')) && !rest.startsWith(QChar(0xFF1A)))
        return false;
    line = rest.mid(1).trimmed();
    return true;
}

} // namespace

platform::CommandLine windowsSendCommand(const std::string& account, const std::string& computer,
                                         const std::string& text) {
    return {"net", {"send", "--windows", "--user", account, computer, text}};
}

QString windowsSendFailure(const platform::CommandResult& result) {
    if (!result.started)
        return QCoreApplication::translate("lanquill::dialogs::WindowsSend",
                                           "无法启动 lanquill-net。");
    if (result.exitCode == 0)
        return {};
    QStringList lines = QString::fromUtf8(result.standardError).split(QLatin1Char('\n'));
    lines.removeIf([](const QString& line) { return line.trimmed().isEmpty(); });
    if (lines.isEmpty()) {
        return result.exitCode < 0
                   ? QCoreApplication::translate("lanquill::dialogs::WindowsSend", "发送被中止。")
                   : QCoreApplication::translate("lanquill::dialogs::WindowsSend",
                                                 "lanquill-net 以代码 %1 结束。")
                         .arg(result.exitCode);
    }
    // The last line is the verdict; the computer's name stays out of the reason, the user
    // knows whom the message was for.
    QString reason = lines.last().trimmed();
    if (stripLead(reason, QStringLiteral("lanquill-net"))) {
        // A computer's name or address holds no colon: the first one ends it.
        const qsizetype colon = reason.indexOf(QRegularExpression(QStringLiteral("[:\uFF1A]")));
        if (colon > 0)
            reason = reason.mid(colon + 1).trimmed();
    }
    return reason;
}

std::vector<WindowsFailure> sendToWindowsDesktops(const desktop::Platform& platform,
                                                  const std::vector<WindowsTarget>& targets,
                                                  const std::string& text) {
    std::vector<QString> verdicts(targets.size());
    std::vector<std::size_t> ready; // targets with a password, to be sent to
    if (QString::fromStdString(text).toUcs4().size() > MaxTextCharacters) {
        verdicts.assign(targets.size(),
                        QCoreApplication::translate("lanquill::dialogs::WindowsSend",
                                                    "消息太长：最多 1000 个字符。"));
    } else {
        // Each account's password once, before any send: a keyring that asks the user to unlock
        // it does so before the network waits begin.
        std::map<std::string, desktop::Keyring::Answer> passwords;
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const std::string& account = targets[i].account;
            auto known = passwords.find(account);
            if (known == passwords.end())
                known =
                    passwords.emplace(account, platform.keyring->read(windowsKeyringKey(account)))
                        .first;
            const desktop::Keyring::Answer& answer = known->second;
            if (answer.ok && !answer.secret.isEmpty())
                ready.push_back(i);
            else if (answer.ok || answer.missing)
                verdicts[i] = QCoreApplication::translate(
                                  "lanquill::dialogs::WindowsSend",
                                  "钥匙环中没有账户 %1 的密码：请在计算机的详细信息中输入。")
                                  .arg(QString::fromStdString(account));
            else
                verdicts[i] = QCoreApplication::translate("lanquill::dialogs::WindowsSend",
                                                          "无法读取钥匙环：%1")
                                  .arg(answer.error);
        }
        std::vector<platform::CommandResult> results(targets.size());
        const std::string messagesLocale =
            desktop::prefersEnglish(QLocale::system()) ? "C.UTF-8" : "zh_CN.UTF-8";
        desktop::withoutFreezing([&] {
            for (std::size_t first = 0; first < ready.size(); first += SendsAtOnce) {
                std::vector<std::future<void>> running;
                for (std::size_t k = first; k < std::min(ready.size(), first + SendsAtOnce); ++k) {
                    const std::size_t i = ready[k];
                    const WindowsTarget& target = targets[i];
                    // lanquill-net speaks the window's language, so that the reason it gives
                    // for a failure reads as the rest of the message does.
                    const platform::ChildEnvironment environment{
                        {"PASSWD", passwords.at(target.account).secret.toStdString()},
                        {"LC_ALL", messagesLocale}};
                    running.push_back(std::async(std::launch::async, [&, i, environment] {
                        results[i] = platform.commands->run(
                            windowsSendCommand(target.account, target.computer, text), environment);
                    }));
                }
                for (auto& send : running)
                    send.get();
            }
        });
        for (const std::size_t i : ready)
            verdicts[i] = windowsSendFailure(results[i]);
    }
    std::vector<WindowsFailure> failures;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (!verdicts[i].isEmpty())
            failures.push_back({targets[i].name, verdicts[i]});
    }
    return failures;
}

} // namespace lanquill::dialogs
