// The main window on fake platform layers, started in a program folder of its own from a given
// book: the set-up the main-window tests share. Every dialog the window opens is cancelled,
// unless onDialog_ says what to do with it.
#pragma once

#include "app/frmMain.h"
#include "fakes/FakePlatform.h"

#include <QDialog>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

namespace lanquill::fakes {

class MainFormFixture : public QObject {
protected:
    QTemporaryDir dir_;
    std::unique_ptr<FakePlatform> fake_;
    std::unique_ptr<app::TMainForm> form_;
    std::function<void(QDialog*)> onDialog_;
    QStringList dialogsSeen_; // the titles of the dialogs opened, in order

    QString configPath() const { return dir_.filePath(QStringLiteral("config.xml")); }
    QByteArray configBytes() const; // config.xml as it is on disk

    // Before each test: no book, fresh fakes, errors shown on the fake message box.
    void resetFixture();
    // Writes `book` as config.xml (a null book writes none) and creates the window.
    void createForm(const QByteArray& book);
    // Shows the window created and waits until it is on the screen.
    void showForm();
    void tearDownFixture();
};

} // namespace lanquill::fakes
