// The two web-link windows: one hyperlink each, which finds the desktop's web browser and asks
// the desktop to open a page in it.  Form2 links to the makers' page, webber to the author's.
#pragma once

#include "layers/window.h"

#include <QString>
#include <QWidget>

class QLabel;

class WebLink : public QWidget {
    Q_OBJECT

public:
    WebLink(const QString& caption, const QString& page, QWidget* parent);

    // The file made for the browser query, in the program's folder.
    static inline const QString kTempName = QStringLiteral("x27z42j.html");

    QLabel* Label1 = nullptr; // the instruction, then progress or "Error"
    QLabel* Label2 = nullptr; // the link
    const QString page;

    void Form_Load();
    void Label2_MouseDown();
    void Label2_MouseUp();
    void Label2_Click();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void setLinkColour(const QColor& colour);
};

class Form2 : public WebLink {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);
    static inline const QString kPage = QStringLiteral("https://clefwork.example.org/");
};

class webber : public WebLink {
    Q_OBJECT

public:
    explicit webber(QWidget* parent = nullptr);
    static inline const QString kPage = QStringLiteral("https://author.example.org/");
};
