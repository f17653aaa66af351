// Made by scripts/update-translations from help/toc.hhc: the titles of the help's
// contents, for lupdate. The help viewer translates the titles it reads in this context.
#pragma once

#include <QtGlobal>

inline constexpr const char* HelpContentsTitles[] = {
    QT_TRANSLATE_NOOP("HelpContents", "Lanquill 帮助"),
    QT_TRANSLATE_NOOP("HelpContents", "主窗口与通讯录"),
    QT_TRANSLATE_NOOP("HelpContents", "发送消息"),
    QT_TRANSLATE_NOOP("HelpContents", "详细信息"),
    QT_TRANSLATE_NOOP("HelpContents", "接收消息"),
    QT_TRANSLATE_NOOP("HelpContents", "收到消息窗口"),
    QT_TRANSLATE_NOOP("HelpContents", "消息记录"),
    QT_TRANSLATE_NOOP("HelpContents", "添加工作组"),
    QT_TRANSLATE_NOOP("HelpContents", "查找机器"),
    QT_TRANSLATE_NOOP("HelpContents", "删除成员和删除工作组"),
    QT_TRANSLATE_NOOP("HelpContents", "托盘图标、热键与退出"),
    QT_TRANSLATE_NOOP("HelpContents", "关于"),
    QT_TRANSLATE_NOOP("HelpContents", "lanquill-net 命令"),
};
