#include "dialogs/dlgMessage.h"

#include "desktop/ErrorReport.h"
#include "dialogs/FixedDialog.h"
#include "ui_dlgMessage.h"
#include "widgets/Artwork.h"

#include <QApplication>
#include <QScreen>

#include <algorithm>

namespace lanquill::dialogs {

using desktop::reported;

QString kindText(inbox::Kind kind) {
    return kind == inbox::Kind::Workgroup
               ? QCoreApplication::translate("lanquill::dialogs::TdlgMessage", "群体消息")
               : QCoreApplication::translate("lanquill::dialogs::TdlgMessage", "个人消息");
}

TdlgMessage::TdlgMessage(Describe describe, QWidget* owner)
    : QDialog(owner), describe_(std::move(describe)), ui_(std::make_unique<Ui::dlgMessage>()) {
    ui_->setupUi(this);
    // A CJK face for the Chinese texts and whatever the sender wrote.
    setUpFixedDialog(*this, true, QStringLiteral("WenQuanYi Micro Hei"));
    setWindowIcon(widgets::programIcon());
    setModal(false);
    // Never steals the keyboard from what the user is typing elsewhere.
    setAttribute(Qt::WA_ShowWithoutActivating);
    ui_->Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    connect(ui_->btnReply, &QPushButton::clicked, this,
            reported([this](bool) { Q_EMIT replyClicked(currentMessage()); }));
    connect(ui_->btnPrev, &QPushButton::clicked, this,
            reported([this](bool) { showMessage(current_ - 1); }));
    connect(ui_->btnNext, &QPushButton::clicked, this,
            reported([this](bool) { showMessage(current_ + 1); }));
    connect(ui_->btnAddToBook, &QPushButton::clicked, this,
            reported([this](bool) { Q_EMIT addToBookClicked(currentMessage()); }));
    connect(ui_->CancelBtn, &QPushButton::clicked, this, [this] { closeWindow(); });
    connect(this, &QDialog::rejected, this, [this] { closeWindow(); });
}

TdlgMessage::~TdlgMessage() = default;

void TdlgMessage::append(const inbox::Message& message) {
    messages_.push_back(message);
    seen_.push_back(false);
    if (current_ < 0)
        showMessage(0);
    else
        showMessage(current_); // the step buttons now count the new one
    if (!isVisible()) {
        placeClearOf(QApplication::activeModalWidget());
        show();
    }
    raise();
}

void TdlgMessage::placeClearOf(const QWidget* busy) {
    if (busy == nullptr || busy == this || !busy->isVisible())
        return;
    // The send dialog opens at the centre of the screen, as this window would: a message arriving
    // while the user types would land exactly over the dialog. It goes beside the dialog, on the
    // first side with room; this window gets the same frame as the dialog, whose size is known.
    const QRect other = busy->frameGeometry();
    const QScreen* screen = busy->screen();
    const QRect room = screen != nullptr ? screen->availableGeometry() : other;
    const QSize frame = size() + (other.size() - busy->geometry().size());
    constexpr int gap = 8;
    const QPoint sides[] = {
        {other.right() + 1 + gap, other.top()},
        {other.left() - gap - frame.width(), other.top()},
        {other.left(), other.bottom() + 1 + gap},
        {other.left(), other.top() - gap - frame.height()},
    };
    for (const QPoint& corner : sides) {
        if (room.contains(QRect(corner, frame))) {
            move(corner);
            return;
        }
    }
    // No side has room: above the dialog as far as the screen allows, so that at most its title
    // and recipient are covered, not the text being typed or 发送.
    QRect place(sides[3], frame);
    place.moveTop(std::max(place.top(), room.top()));
    place.moveLeft(std::clamp(place.left(), room.left(), room.right() + 1 - place.width()));
    move(place.topLeft());
}

void TdlgMessage::showMessage(const QString& id) {
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        if (messages_[i].id == id)
            showMessage(static_cast<int>(i));
    }
    show();
    raise();
    activateWindow();
}

void TdlgMessage::showMessage(int index) {
    if (index < 0 || index >= count())
        return;
    current_ = index;
    const inbox::Message& m = messages_[std::size_t(index)];
    const SenderView sender = describe_(m);
    ui_->stSender->setText(sender.text);
    ui_->stTime->setText(m.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    ui_->stKind->setText(kindText(m.kind));
    // Plain text: whatever the sender typed, markup included, shows as typed.
    ui_->Memo1->setPlainText(m.text);
    ui_->btnAddToBook->setVisible(!sender.inBook);
    const bool several = count() > 1;
    ui_->btnPrev->setVisible(several);
    ui_->btnNext->setVisible(several);
    ui_->btnPrev->setEnabled(index > 0);
    ui_->btnNext->setEnabled(index + 1 < count());
    seen_[std::size_t(index)] = true;
}

void TdlgMessage::refreshSender() {
    showMessage(current_);
}

void TdlgMessage::closeWindow() {
    // What was shown has been read; the next arrival starts a fresh round.
    const std::vector<inbox::Message> shown = std::move(messages_);
    const std::vector<bool> seen = std::move(seen_);
    messages_.clear();
    seen_.clear();
    current_ = -1;
    hide();
    for (std::size_t i = 0; i < shown.size(); ++i) {
        if (seen[i])
            Q_EMIT read(shown[i]);
    }
}

} // namespace lanquill::dialogs
