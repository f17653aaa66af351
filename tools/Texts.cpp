#include "tools/Texts.h"

#include <cstdlib>
#include <cstring>

namespace lanquill::tools {

namespace {

constexpr Translation Table[] = {
    {"usage: lanquill-net send /domain:WORKGROUP [--member NAME]... text\n"
     "       lanquill-net send NAME|ADDRESS text\n"
     "       lanquill-net send --windows --user [DOMAIN\\]USER [--session N] COMPUTER text\n"
     "       lanquill-net status NAME|ADDRESS\n"
     "       lanquill-net lookup NAME...\n"
     "       lanquill-net view [/domain:WORKGROUP]\n"
     "       lanquill-net receiver-config\n"
     "       lanquill-net --help\n"
     "Before or right after the command word, --wins ADDRESS|none chooses the WINS\n"
     "server names are asked of first (default: \"wins server\" of smb.conf).\n",
     "用法：lanquill-net send /domain:工作组 [--member 机器名]... 消息\n"
     "      lanquill-net send 机器名|IP地址 消息\n"
     "      lanquill-net send --windows --user [域\\]用户名 [--session 会话号] 计算机 消息\n"
     "      lanquill-net status 机器名|IP地址\n"
     "      lanquill-net lookup 机器名...\n"
     "      lanquill-net view [/domain:工作组]\n"
     "      lanquill-net receiver-config\n"
     "      lanquill-net --help\n"
     "在命令词之前或紧随其后，--wins 地址|none 指定先询问名称的 WINS 服务器\n"
     "（默认为 smb.conf 中的 \"wins server\"）。\n"},
    {"--wins wants a dotted IPv4 host address or \"none\", not \"%s\"",
     "--wins 需要点分十进制的 IPv4 主机地址或 \"none\"，而不是 \"%s\""},
    {"--wins is given more than once", "--wins 给出了不止一次"},
    {"--wins wants an address", "--wins 缺少地址"},
    {"usage: lanquill-net send /domain:WORKGROUP [--member NAME]... text\n"
     "       lanquill-net send NAME|ADDRESS text\n"
     "       lanquill-net send --windows --user [DOMAIN\\]USER [--session N] COMPUTER text\n",
     "用法：lanquill-net send /domain:工作组 [--member 机器名]... 消息\n"
     "      lanquill-net send 机器名|IP地址 消息\n"
     "      lanquill-net send --windows --user [域\\]用户名 [--session 会话号] 计算机 消息\n"},
    {"lanquill-net: %s: %s (error %u)\n", "lanquill-net：%s：%s（错误 %u）\n"},
    {"lanquill-net: --member wants a computer name\n", "lanquill-net：--member 缺少机器名\n"},
    {"lanquill-net: \"%s\" cannot be a computer name\n", "lanquill-net：\"%s\" 不可能是机器名\n"},
    {"The message was delivered to %zu computer(s) of workgroup %s on other networks.\n",
     "消息已送达其他网络上的 %zu 台计算机（工作组 %s）。\n"},
    {"lanquill-net: %s: not sent: its name was answered with %s, an address outside this LAN's "
     "networks\n",
     "lanquill-net：%s：未发送：名称查询给出的地址 %s 不在本局域网的网络之内\n"},
    {"lanquill-net: %s: not sent: only the first %zu members on other networks are sent to\n",
     "lanquill-net：%s：未发送：只向其他网络上的前 %zu 个成员发送\n"},
    {"lanquill-net: %s: not sent: the %lld seconds for the workgroup message were over\n",
     "lanquill-net：%s：未发送：工作组消息的 %lld 秒时限已到\n"},
    {"lanquill-net: %zu member(s) of workgroup %s on other networks were not reached\n",
     "lanquill-net：其他网络上有 %zu 个成员未能送达（工作组 %s）\n"},
    {"usage: lanquill-net status NAME|ADDRESS\n", "用法：lanquill-net status 机器名|IP地址\n"},
    {"usage: lanquill-net lookup NAME...\n", "用法：lanquill-net lookup 机器名...\n"},
    {"usage: lanquill-net view [/domain:WORKGROUP]\n",
     "用法：lanquill-net view [/domain:工作组]\n"},
    {"usage: lanquill-net receiver-config\n", "用法：lanquill-net receiver-config\n"},
    {"lanquill-net: unknown command \"%s\"\n", "lanquill-net：没有“%s”这个命令\n"},
    {"lanquill-net: %s\n", "lanquill-net：%s\n"},
    // send
    {"delivered", "已送达"},
    {"the name or text holds characters that cannot be sent", "名称或消息中有无法发送的字符"},
    {"the recipient is not known on the network", "网络上找不到接收方"},
    {"the recipient could not be reached", "无法连接接收方"},
    {"the recipient does not speak the messenger protocol", "接收方不接收信使消息"},
    {"the recipient refused the message", "接收方拒绝了这条消息"},
    {"the name or text is too long", "名称或消息太长"},
    {"the recipient is busy and refused the connection for lack of resources; try again later",
     "接收方正忙，因资源不足拒绝了连接；请稍后再试"},
    {"error ", "错误代码 "},
    {"sent", "已发出"},
    {"the workgroup name or text holds characters that cannot be sent",
     "工作组名或消息中有无法发送的字符"},
    {"the workgroup name or text is too long", "工作组名或消息太长"},
    {"there is no network to broadcast on", "没有可以广播的网络"},
    {"the broadcast could not be sent", "无法发出广播"},
    {"unknown failure", "未知错误"},
    {"lanquill-net: there is no text to send: give it after the recipient\n",
     "lanquill-net：没有要发送的消息：请写在接收方之后\n"},
    {"lanquill-net: that cannot be a workgroup name\n", "lanquill-net：这不可能是工作组名\n"},
    {"lanquill-net: no message to workgroup %s: %s\n",
     "lanquill-net：未向工作组 %s 发送消息：%s\n"},
    {"The message was broadcast to workgroup %s on %d network(s); receivers do not confirm "
     "broadcasts.\n",
     "消息已广播到工作组 %s，共 %d 个网络；接收方不确认广播。\n"},
    {"lanquill-net: send * is not supported; use /domain:WORKGROUP\n",
     "lanquill-net：不支持 send *；请用 /domain:工作组\n"},
    {"lanquill-net: the message to %s was not delivered: %s (error %u)\n",
     "lanquill-net：发给 %s 的消息未送达：%s（错误代码 %u）\n"},
    {"The message was delivered to %s.\n", "消息已送达 %s。\n"},
    // send --windows
    {"usage: lanquill-net send --windows --user [DOMAIN\\]USER [--session N] COMPUTER text\n",
     "用法：lanquill-net send --windows --user [域\\]用户名 [--session 会话号] 计算机 消息\n"},
    {"lanquill-net: %s: %s\n", "lanquill-net：%s：%s\n"},
    {"lanquill-net: --session wants a session number\n", "lanquill-net：--session 需要会话号\n"},
    {"lanquill-net: --windows wants --user [DOMAIN\\]USER\n",
     "lanquill-net：--windows 需要 --user [域\\]用户名\n"},
    {"lanquill-net: the text is longer than %zu characters\n",
     "lanquill-net：消息超过 %zu 个字符\n"},
    {"no password: set PASSWD, or run the command on a terminal",
     "没有密码：请设置 PASSWD，或在终端中运行此命令"},
    {"Password for %s: ", "%s 的密码："},
    {"Message from %s", "来自 %s 的消息"},
    {"message shown on %s (session %u)\n", "消息已显示在 %s 上（会话 %u）\n"},
    {"the computer is not known on the network", "网络上找不到这台计算机"},
    {"cannot connect to the computer (TCP 445)", "无法连接这台计算机（TCP 445）"},
    {"the logon was refused (user name or password)", "登录被拒绝（用户名或密码）"},
    {"access denied: the account may not send messages there",
     "拒绝访问：该帐户无权向那里发送消息"},
    {"the computer does not take remote messages (AllowRemoteRPC is not set)",
     "这台计算机不接收远程消息（未设置 AllowRemoteRPC）"},
    {"no such session on the computer", "这台计算机上没有这个会话"},
    {"the computer answered with fault 0x%08X", "这台计算机回答了错误 0x%08X"},
    {"no answer within 10 seconds", "10 秒内没有应答"},
    {"the connection to the computer broke off before it answered",
     "与这台计算机的连接在应答之前中断了"},
    {"the sending process failed (killed by signal %u)", "发送进程失败（被信号 %u 终止）"},
    {"the sending process failed (exit status %u)", "发送进程失败（退出状态 %u）"},
    {"the send was cancelled", "发送已取消"},
    // status, lookup
    {"lanquill-net: %s is not a dotted IPv4 address or a computer name\n",
     "lanquill-net：%s 既不是 IPv4 地址也不是机器名\n"},
    {"lanquill-net: %s: not found\n", "lanquill-net：%s：找不到\n"},
    {"lanquill-net: %s resolves to no IPv4 address\n", "lanquill-net：%s 没有 IPv4 地址\n"},
    {"lanquill-net: %s did not answer the node-status query\n",
     "lanquill-net：%s 没有应答节点状态查询\n"},
    // view
    {"There are no entries in the list.", "列表中没有项目。"},
    {"lanquill-net: \"%s\" cannot be a workgroup name\n", "lanquill-net：“%s”不可能是工作组名\n"},
    {"lanquill-net: the computers of workgroup %s cannot be listed\n",
     "lanquill-net：无法列出工作组 %s 的计算机\n"},
    {"lanquill-net: cannot find its own folder: %s\n",
     "lanquill-net：找不到自己所在的文件夹：%s\n"},
    {"lanquill-net: cannot start %s: %s\n", "lanquill-net：无法启动 %s：%s\n"},
    // receiver-config: only the comment; the smb.conf lines are smb.conf's own words.
    {"# lanquilld receives through smbd: add to [global] of smb.conf, then restart smbd\n",
     "# lanquilld 通过 smbd 接收消息：把以下几行加到 smb.conf 的 [global] 中，然后重启 smbd\n"},
};

bool isChinese(std::string_view name) {
    return name.substr(0, 2) == "zh" && (name.size() == 2 || name[2] == '_' || name[2] == '-' ||
                                         name[2] == '.' || name[2] == '@');
}

bool set(const char* value) {
    return value != nullptr && *value != '\0';
}

} // namespace

std::span<const Translation> translations() {
    return Table;
}

bool wantsChinese(const char* lcAll, const char* lcMessages, const char* lang,
                  const char* language) {
    const char* locale = set(lcAll) ? lcAll : set(lcMessages) ? lcMessages : lang;
    if (!set(locale))
        return false;
    const std::string_view name = locale;
    // The C locale asks for the program's own texts, whatever LANGUAGE says (as gettext does).
    if (name == "C" || name == "POSIX" || name.substr(0, 2) == "C.")
        return false;
    if (set(language)) {
        const std::string_view languages = language;
        const std::string_view first = languages.substr(0, languages.find(':'));
        if (!first.empty())
            return isChinese(first);
    }
    return isChinese(name);
}

const char* say(const char* english) {
    static const bool chinese = wantsChinese(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                                             std::getenv("LANG"), std::getenv("LANGUAGE"));
    if (!chinese)
        return english;
    for (const Translation& t : Table)
        if (t.english == english)
            return t.chinese.data();
    return english;
}

} // namespace lanquill::tools
