#include "util/uProgress.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTimer>
#include <cmath>
#include <numbers>

#include "util/Prompter.h"
#include "util/QtPrompter.h"

namespace kv::gui {

bool ProgressCancelled = false;

namespace {

// Fixed texts of the dialog.
const char* const kDialogName = "Obrada";
const char* const kDoneText = "Obrada završena !!";
const char* const kCancelQuestion = "Da li želite prekinuti obradu ?";
const char* const kCancelCaption = "Prekini";
const char* const kOkCaption = "Ok !";

const QColor kCream(255, 251, 240);
constexpr int kLabelHeight = 14;

Prompter* g_prompter = nullptr;

// A sheet of paper flying from one folder to another, drawn rather than
// played from a clip. Frames 0..kFrames-1 repeat while the operation runs.
class ProgressAnimation : public QWidget {
public:
    static constexpr int kFrames = 34;

    explicit ProgressAnimation(QWidget* parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("Animate1"));
        // Opaque, so that the done text underneath stays covered until the
        // animation is hidden.
        setAutoFillBackground(true);
        timer_.setInterval(60);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] {
            frame_ = (frame_ + 1) % kFrames;
            update();
        });
    }

    void start()
    {
        frame_ = 0;
        timer_.start();
        update();
    }
    void stop() { timer_.stop(); }
    bool playing() const { return timer_.isActive(); }
    int frame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const int h = height();
        const QRectF from(34, h - 32, 42, 28);
        const QRectF to(width() - 76, h - 32, 42, 28);
        drawFolder(p, from);
        drawFolder(p, to);

        // The sheet leaves the left folder, arcs over and drops into the right one.
        const double t = static_cast<double>(frame_) / (kFrames - 1);
        const double x = from.center().x() + (to.center().x() - from.center().x()) * t;
        const double y = from.top() + 4 - std::sin(t * std::numbers::pi) * (from.top() - 8);
        p.save();
        p.translate(x, y);
        p.rotate(-25 + 50 * t);
        drawSheet(p);
        p.restore();
    }

private:
    static void drawFolder(QPainter& p, const QRectF& r)
    {
        const QColor back(214, 160, 40), front(250, 200, 80), edge(150, 105, 20);
        QPainterPath tab;
        tab.moveTo(r.left(), r.top() + 6);
        tab.lineTo(r.left() + 4, r.top());
        tab.lineTo(r.left() + 16, r.top());
        tab.lineTo(r.left() + 20, r.top() + 6);
        tab.closeSubpath();
        p.setPen(QPen(edge, 1));
        p.setBrush(back);
        p.drawPath(tab);
        p.drawRect(r.adjusted(0, 6, 0, 0));
        p.setBrush(front);
        QPainterPath flap;
        flap.moveTo(r.left(), r.bottom());
        flap.lineTo(r.left() + 5, r.top() + 12);
        flap.lineTo(r.right() + 5, r.top() + 12);
        flap.lineTo(r.right(), r.bottom());
        flap.closeSubpath();
        p.drawPath(flap);
    }

    static void drawSheet(QPainter& p)
    {
        const QRectF sheet(-8, -10, 16, 20);
        p.setPen(QPen(QColor(110, 110, 110), 1));
        p.setBrush(Qt::white);
        p.drawRect(sheet);
        p.setPen(QPen(QColor(90, 120, 200), 1));
        for (int i = 0; i < 4; ++i)
            p.drawLine(QPointF(-5, -6 + 4 * i), QPointF(5, -6 + 4 * i));
    }

    QTimer timer_;
    int frame_ = 0;
};

// A label as wide as its text and one line high.
void FitLabel(QLabel* label)
{
    label->resize(label->sizeHint().width(), kLabelHeight);
}

class ProgressDialog : public QDialog {
public:
    explicit ProgressDialog(QWidget* owner) : QDialog(owner), owner_(owner)
    {
        setObjectName(QString::fromLatin1(kDialogName));
        setAttribute(Qt::WA_DeleteOnClose);
        setFixedSize(398, 160);
        QPalette pal = palette();
        pal.setColor(QPalette::Window, kCream);
        setPalette(pal);
        setAutoFillBackground(true);
        QFont f = font();
        f.setPointSize(8);
        setFont(f);

        // Created before the animation so that the animation lies on top.
        opisGotovo_ = new QLabel(QString::fromUtf8(kDoneText), this);
        opisGotovo_->setObjectName(QStringLiteral("OpisGotovo"));
        opisGotovo_->setFont(QFont(QStringLiteral("Arial"), 8));
        opisGotovo_->move(46, 24);
        FitLabel(opisGotovo_);

        animate_ = new ProgressAnimation(this);
        animate_->setGeometry(10, 1, 272, 60);

        opis1_ = new QLabel(this);
        opis1_->setObjectName(QStringLiteral("Opis1"));
        opis1_->move(10, 63);
        opis2_ = new QLabel(this);
        opis2_->setObjectName(QStringLiteral("Opis2"));
        opis2_->move(10, 79);

        bar_ = new QProgressBar(this);
        bar_->setObjectName(QStringLiteral("ProgressBar"));
        bar_->setGeometry(10, 101, 280, 16);
        bar_->setTextVisible(false);

        btPrekini_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogCancelButton),
                                     QString::fromUtf8(kCancelCaption), this);
        btPrekini_->setObjectName(QStringLiteral("BtPrekini"));
        btPrekini_->setGeometry(303, 97, 75, 25);
        // Enter must not reach for the cancel question by accident.
        btPrekini_->setAutoDefault(false);
        QObject::connect(btPrekini_, &QPushButton::clicked, this, [this] { askCancel(); });

        btOk_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogOkButton),
                                QString::fromUtf8(kOkCaption), this);
        btOk_->setObjectName(QStringLiteral("BtOk"));
        btOk_->setGeometry(303, 97, 75, 25);
        btOk_->setDefault(true);
        btOk_->setFocusPolicy(Qt::ClickFocus);  // not reached by Tab
        btOk_->setEnabled(false);
        btOk_->hide();
        QObject::connect(btOk_, &QPushButton::clicked, this, [this] { close(); });

        setTabOrder(btPrekini_, btOk_);
    }

    bool isClosed() const { return closed_; }

    void start(const QString& caption, const QString& line1, const QString& line2, bool allowCancel,
               bool showBar, int min, int max)
    {
        // A reused dialog may still show a done notice; bring back the running look.
        running_ = true;
        btOk_->setEnabled(false);
        btOk_->hide();
        opisGotovo_->setText(QString::fromUtf8(kDoneText));
        FitLabel(opisGotovo_);
        animate_->show();
        animate_->start();
        ProgressCancelled = false;

        setWindowTitle(caption);
        bar_->setRange(min, max);
        bar_->setValue(min);
        setLine(opis1_, line1);
        setLine(opis2_, line2);

        cancelAllowed_ = allowCancel;
        setBorderIcons(allowCancel);
        if (owner_)
            owner_->setEnabled(false);
        // Disabling the owner disables its child windows too; this one must
        // stay usable.
        setEnabled(true);
        btPrekini_->setEnabled(allowCancel);
        btPrekini_->setVisible(allowCancel);
        bar_->setVisible(showBar);

        centreOnScreen();
        show();
        repaint();
    }

    void step(const std::optional<QString>& line1, const std::optional<QString>& line2, int position)
    {
        if (!bar_->isHidden())
            bar_->setValue(position);
        if (line1)
            setLine(opis1_, *line1);
        if (line2)
            setLine(opis2_, *line2);
        repaint();
    }

    void showDone(const std::optional<QString>& doneText)
    {
        running_ = false;
        animate_->stop();
        animate_->hide();
        setBorderIcons(true);
        setEnabled(true);
        btPrekini_->setEnabled(false);
        btPrekini_->hide();
        btOk_->show();
        btOk_->setEnabled(true);
        setLine(opis1_, QString());
        setLine(opis2_, QString());
        if (doneText) {
            opisGotovo_->setText(*doneText);
            FitLabel(opisGotovo_);
        }
        bar_->setValue(bar_->maximum());
        // Changing the border icons hides a window; show it again.
        show();
        repaint();
        activateWindow();
        btOk_->setFocus();
        QApplication::beep();
    }

    // Closes without asking, as the operation does at its end.
    void finish()
    {
        running_ = false;
        close();
    }

protected:
    void closeEvent(QCloseEvent* e) override
    {
        if (running_) {
            // The close box exists only while cancelling is allowed; it asks
            // the same question as "Prekini". Other ways of closing a running
            // operation's dialog are refused.
            if (!cancelAllowed_ || !confirmCancel()) {
                e->ignore();
                return;
            }
            ProgressCancelled = true;
            running_ = false;
        }
        closed_ = true;
        animate_->stop();
        if (owner_)
            owner_->setEnabled(true);
        e->accept();
    }

    void keyPressEvent(QKeyEvent* e) override
    {
        if (e->key() == Qt::Key_Escape) {
            // Esc presses "Prekini" when it is there, and nothing else.
            if (btPrekini_->isVisible() && btPrekini_->isEnabled())
                btPrekini_->click();
            e->accept();
            return;
        }
        QDialog::keyPressEvent(e);
    }

    // QDialog would merely hide itself here; closing keeps the owner's state right.
    void reject() override { close(); }

private:
    bool confirmCancel()
    {
        if (g_prompter)
            return g_prompter->confirm(kCancelQuestion, MsgKind::Warning);
        QtPrompter fallback(this, windowTitle());
        return fallback.confirm(kCancelQuestion, MsgKind::Warning);
    }

    void askCancel()
    {
        if (!running_ || !confirmCancel())
            return;
        if (owner_)
            owner_->setEnabled(true);
        ProgressCancelled = true;
        running_ = false;
        close();
    }

    void setBorderIcons(bool systemMenu)
    {
        Qt::WindowFlags flags = Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
        if (systemMenu)
            flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;
        if (flags != windowFlags())
            setWindowFlags(flags);
    }

    void setLine(QLabel* label, const QString& text)
    {
        label->setText(text);
        FitLabel(label);
    }

    void centreOnScreen()
    {
        QScreen* s = screen();
        if (!s)
            s = QGuiApplication::primaryScreen();
        if (s)
            move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    }

    QPointer<QWidget> owner_;
    ProgressAnimation* animate_ = nullptr;
    QLabel* opisGotovo_ = nullptr;
    QLabel* opis1_ = nullptr;
    QLabel* opis2_ = nullptr;
    QProgressBar* bar_ = nullptr;
    QPushButton* btPrekini_ = nullptr;
    QPushButton* btOk_ = nullptr;
    bool running_ = false;
    bool cancelAllowed_ = false;
    bool closed_ = false;
};

// A dialog shown without an owner still gets only one instance.
QPointer<ProgressDialog> g_ownerless;

ProgressDialog* Find(QWidget* owner)
{
    if (!owner) {
        ProgressDialog* d = g_ownerless.data();
        return d && !d->isClosed() ? d : nullptr;
    }
    const auto dialogs =
        owner->findChildren<QDialog*>(QString::fromLatin1(kDialogName), Qt::FindDirectChildrenOnly);
    for (QDialog* candidate : dialogs) {
        auto* d = dynamic_cast<ProgressDialog*>(candidate);
        // A closed dialog waits for its deferred deletion; it is gone already.
        if (d && !d->isClosed())
            return d;
    }
    return nullptr;
}

}  // namespace

void SetProgressPrompter(Prompter* prompter)
{
    g_prompter = prompter;
}

QDialog* FindProgress(QWidget* owner)
{
    return Find(owner);
}

void ShowProgress(QWidget* owner, const QString& caption, const QString& line1, const QString& line2,
                  bool allowCancel, bool showBar, int min, int max)
{
    ProgressDialog* dlg = Find(owner);
    if (!dlg) {
        dlg = new ProgressDialog(owner);
        if (!owner)
            g_ownerless = dlg;
    }
    dlg->start(caption, line1, line2, allowCancel, showBar, min, max);
}

void StepProgress(QWidget* owner, const std::optional<QString>& line1, const std::optional<QString>& line2,
                  int position)
{
    ProgressDialog* dlg = Find(owner);
    if (!dlg)
        return;
    dlg->step(line1, line2, position);
    // This is where a click on "Prekini" gets handled.
    QCoreApplication::processEvents();
}

void EndProgress(QWidget* owner, bool doneNotice, const std::optional<QString>& doneText)
{
    if (ProgressDialog* dlg = Find(owner)) {
        if (doneNotice && !ProgressCancelled)
            dlg->showDone(doneText);
        else
            dlg->finish();
    }
    ProgressCancelled = false;
}

}  // namespace kv::gui
