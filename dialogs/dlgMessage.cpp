#include "dialogs/dlgMessage.h"

#include "desktop/ErrorReport.h"
#include "dialogs/FixedDialog.h"
#include "ui_dlgMessage.h"
#include "widgets/Artwork.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>
#include <QWindow>

#include <algorithm>

namespace lanquill::dialogs {

using desktop::reported;

QString kindText(inbox::Kind kind) {
    return kind == inbox::Kind::Workgroup
               ? QCoreApplication::translate("lanquill::dialogs::TdlgMessage", "群体消息")
               : QCoreApplication::translate("lanquill::dialogs::TdlgMessage", "个人消息");
}

QString displayName(const QString& name) {
    QString shown;
    shown.reserve(name.size());
    bool space = false;
    for (const QChar c : name) {
        if (c.isSpace()) {
            space = true;
            continue;
        }
        const QChar::Category category = c.category();
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            continue;
        if (space && !shown.isEmpty())
            shown += u' ';
        space = false;
        shown += c;
    }
    return shown;
}

QString SenderView::text(qsizetype longestName) const {
    QString cut = name;
    if (cut.size() > longestName) {
        qsizetype keep = std::max<qsizetype>(longestName - 1, 0);
        if (keep > 0 && cut.at(keep - 1).isHighSurrogate())
            --keep; // never half a character
        cut = cut.left(keep) + QChar(0x2026);
    }
    if (vouched)
        return cut + QStringLiteral(" (") + where + u')';
    // The mark comes first and the address last, around whatever the sender wrote: no name can
    // take the form of the book's "user (workgroup)" or hide where the message came from.
    return where.isEmpty()
               ? QCoreApplication::translate("lanquill::dialogs::TdlgMessage", "未核实：%1")
                     .arg(cut)
               : QCoreApplication::translate("lanquill::dialogs::TdlgMessage", "未核实：%1 (%2)")
                     .arg(cut, where);
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
    memoHeight_ = ui_->Memo1->height();
    ui_->stPosition->hide();
    ui_->btnAllRead->hide();

    connect(ui_->btnReply, &QPushButton::clicked, this,
            reported([this](bool) { Q_EMIT replyClicked(currentMessage()); }));
    connect(ui_->btnPrev, &QPushButton::clicked, this,
            reported([this](bool) { display(current_ - 1); }));
    connect(ui_->btnNext, &QPushButton::clicked, this,
            reported([this](bool) { display(current_ + 1); }));
    connect(ui_->btnAddToBook, &QPushButton::clicked, this,
            reported([this](bool) { Q_EMIT addToBookClicked(currentMessage()); }));
    connect(ui_->btnAllRead, &QPushButton::clicked, this,
            reported([this](bool) { markAllRead(); }));
    connect(ui_->CancelBtn, &QPushButton::clicked, this, [this] { closeWindow(); });
    connect(this, &QDialog::rejected, this, [this] { closeWindow(); });
}

TdlgMessage::~TdlgMessage() = default;

void TdlgMessage::append(const inbox::Message& message) {
    append(std::vector<inbox::Message>{message});
}

void TdlgMessage::append(std::vector<inbox::Message> messages, bool textLater) {
    // lanquilld offers again what was not acknowledged; the window holds each message once.
    const std::size_t before = messages_.size();
    for (inbox::Message& message : messages) {
        if (held_.contains(message.id))
            continue;
        held_.insert(message.id);
        if (textLater)
            textLater_.insert(message.id);
        messages_.push_back(std::move(message));
        seen_.push_back(false);
    }
    if (messages_.size() == before)
        return;
    if (!isVisible()) {
        display(firstWaiting());
        placeClearOf(QApplication::activeModalWidget());
        show();
    } else {
        display(current_ < 0 ? 0 : current_); // the count now takes in the new one
    }
    raise();
}

int TdlgMessage::firstWaiting() const {
    const auto waiting = std::find(seen_.begin(), seen_.end(), false);
    return waiting == seen_.end() ? -1 : static_cast<int>(waiting - seen_.begin());
}

int TdlgMessage::waiting() const {
    return static_cast<int>(std::count(seen_.begin(), seen_.end(), false));
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

bool TdlgMessage::showMessage(const QString& id) {
    const auto held = std::find_if(messages_.begin(), messages_.end(),
                                   [&](const inbox::Message& m) { return m.id == id; });
    if (held == messages_.end())
        return false;
    display(static_cast<int>(held - messages_.begin()));
    show();
    raise();
    activateWindow();
    return true;
}

bool TdlgMessage::showOldest() {
    const int oldest = firstWaiting();
    if (oldest < 0)
        return false;
    display(oldest);
    show();
    raise();
    activateWindow();
    return true;
}

void TdlgMessage::keepOnly(const QSet<QString>& unread) {
    std::vector<inbox::Message> messages;
    std::vector<bool> seen;
    int current = -1;
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        const bool onScreen = static_cast<int>(i) == current_;
        if (!seen_[i] && !onScreen && !unread.contains(messages_[i].id))
            continue;
        if (onScreen)
            current = static_cast<int>(messages.size());
        messages.push_back(std::move(messages_[i]));
        seen.push_back(seen_[i]);
    }
    messages_ = std::move(messages);
    seen_ = std::move(seen);
    rememberHeld();
    current_ = current;
    if (current_ >= 0)
        display(current_);
}

void TdlgMessage::rememberHeld() {
    held_.clear();
    held_.reserve(static_cast<qsizetype>(messages_.size()));
    for (const inbox::Message& m : messages_)
        held_.insert(m.id);
    textLater_.intersect(held_);
}

void TdlgMessage::display(int index) {
    if (index < 0 || index >= count())
        return;
    current_ = index;
    const inbox::Message& m = messages_[std::size_t(index)];
    const SenderView sender = describe_(m);
    // The line as long as the field takes, the name cut first.
    const QLabel& field = *ui_->stSender;
    const int room = field.contentsRect().width() - 2 * field.margin() - field.indent();
    QString line = sender.text(sender.name.size());
    for (qsizetype longest = sender.name.size() - 1;
         longest > 0 && field.fontMetrics().horizontalAdvance(line) > room; --longest)
        line = sender.text(longest);
    ui_->stSender->setText(line);
    ui_->stSender->setToolTip(sender.name);
    ui_->stTime->setText(m.time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    ui_->stKind->setText(kindText(m.kind));
    // Plain text: whatever the sender typed, markup included, shows as typed.
    ui_->Memo1->setPlainText(textLater_.contains(m.id) && textSource_ ? textSource_(m.id) : m.text);
    ui_->btnAddToBook->setVisible(!sender.inBook);
    noteShown();
    updateSteps();
}

void TdlgMessage::updateSteps() {
    const bool several = count() > 1;
    ui_->btnPrev->setVisible(several);
    ui_->btnNext->setVisible(several);
    ui_->btnPrev->setEnabled(current_ > 0);
    ui_->btnNext->setEnabled(current_ + 1 < count());
    // With several, a line under the text tells where the user is and offers to be done with
    // the rest; the text gives it the room.
    ui_->stPosition->setVisible(several);
    ui_->btnAllRead->setVisible(several);
    ui_->btnAllRead->setEnabled(waiting() > 0);
    ui_->stPosition->setText(QStringLiteral("%1 / %2").arg(current_ + 1).arg(count()));
    QRect memo = ui_->Memo1->geometry();
    memo.setHeight(several ? ui_->btnAllRead->y() - 2 - memo.top() : memoHeight_);
    ui_->Memo1->setGeometry(memo);
}

void TdlgMessage::noteShown() {
    if (current_ < 0 || seen_[std::size_t(current_)])
        return;
    // On screen, not merely chosen: a window not yet mapped (or already going at the end of the
    // session) shows nothing to anyone.
    const QWindow* window = windowHandle();
    if (!isVisible() || window == nullptr || !window->isExposed())
        return;
    seen_[std::size_t(current_)] = true;
    Q_EMIT read(messages_[std::size_t(current_)]);
}

void TdlgMessage::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (QWindow* window = windowHandle()) {
        window->removeEventFilter(this);
        window->installEventFilter(this);
    }
    noteShown();
}

bool TdlgMessage::eventFilter(QObject* watched, QEvent* event) {
    if (watched == windowHandle() && event->type() == QEvent::Expose) {
        // The window learns that it is exposed with this event; it is read after it.
        QTimer::singleShot(0, this, [this] {
            noteShown();
            updateSteps();
        });
    }
    return QDialog::eventFilter(watched, event);
}

void TdlgMessage::refreshSender() {
    display(current_);
}

void TdlgMessage::markAllRead() {
    // Read by the user's word, shown or not: the window is done with all of them.
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        if (!seen_[i]) {
            seen_[i] = true;
            Q_EMIT read(messages_[i]);
        }
    }
    closeWindow();
}

void TdlgMessage::closeWindow() {
    // What was on screen is read and goes; what was not waits for the window's next opening.
    hide();
    std::vector<inbox::Message> waiting;
    for (std::size_t i = 0; i < messages_.size(); ++i) {
        if (!seen_[i])
            waiting.push_back(std::move(messages_[i]));
    }
    messages_ = std::move(waiting);
    seen_.assign(messages_.size(), false);
    rememberHeld();
    current_ = -1;
}

} // namespace lanquill::dialogs
