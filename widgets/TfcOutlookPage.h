// One page of the group bar: its button in the stack and its item list, both children of the
// bar. Pages are made, removed, reused and deleted by TfcOutlookBar only; they have no QObject
// parent, so that a bar of many pages does not carry them among its children too.
#pragma once

#include <QObject>
#include <QPointer>

namespace lanquill::widgets {

class TfcOutlookBar;
class TfcOutlookList;
class TfcShapeBtn;

class TfcOutlookPage : public QObject {
    Q_OBJECT
public:
    ~TfcOutlookPage() override;

    TfcShapeBtn* button() const { return button_; }
    TfcOutlookList* outlookList() const { return list_; }
    int index() const;                          // -1 once removed from its bar
    TfcOutlookBar* bar() const { return bar_; } // nullptr once removed from its bar

private:
    friend class TfcOutlookBar;
    explicit TfcOutlookPage(TfcOutlookBar* bar);
    void detach();
    // Joins `bar` again as if new; see TfcOutlookList::resetForReuse for `keepItemsUntil`.
    void reattach(TfcOutlookBar* bar, const QObject* keepItemsUntil);

    TfcOutlookBar* bar_;
    QPointer<TfcShapeBtn> button_;
    QPointer<TfcOutlookList> list_;
};

} // namespace lanquill::widgets
