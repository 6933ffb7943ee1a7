#include "Form1.h"

#include "ConfigCheck.h"
#include "Encoding.h"
#include "FormServices.h"
#include "ListBox.h"
#include "MFileOp.h"
#include "PictureBox.h"
#include "ReportModel.h"
#include "Scanner.h"
#include "Version.h"
#include "platform/NativeFile.h"

#include <QCloseEvent>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

namespace tromel::gui {

namespace {

const QString kAppTitle = QStringLiteral("Tromel Rimbolt");
constexpr int kListRows = 10;

QString title(const char* suffix)
{
    return kAppTitle + QLatin1String(suffix);
}

/// Names, paths and the list's header as shown: UTF-8 when they are, else Windows-1252.
QString shown(std::string_view bytes)
{
    return QString::fromStdString(tromel::nameToUtf8(bytes));
}

QString fileName(const std::string& path)
{
    return shown(tromel::platform::pathToUtf8(tromel::platform::pathFromUtf8(path).filename()));
}

/// The one regular file that a drag carries, or empty.
std::string droppedFile(const QMimeData* data)
{
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1)
        return {};
    const QUrl url = data->urls().constFirst();
    if (!url.isLocalFile())
        return {};
#if defined(Q_OS_WIN)
    const std::string path = url.toLocalFile().toStdString();
#else
    // Decoded by hand, so that a name's bytes stay as they are where they are not UTF-8.
    const std::string path
        = QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()).toStdString();
#endif
    return tromel::FileExists(path) ? path : std::string();
}

QLabel* makeLabel(const char* name, const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setObjectName(QLatin1String(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // Picture boxes draw in their Text role; labels keep the window-text role that their colour uses.
    label->setForegroundRole(QPalette::WindowText);
    return label;
}

void setTextColour(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::WindowText, colour);
    w->setPalette(p);
}

/// Places a control at its design position, measured inside its container's border.
void place(QWidget* w, int left, int top, int width, int height)
{
    QPoint origin;
    if (auto* frame = qobject_cast<QFrame*>(w->parentWidget()))
        origin = frame->contentsRect().topLeft();
    w->setGeometry(QRect(origin + QPoint(left, top), QSize(width, height)));
}

} // namespace

QFont dialogFont(bool bold)
{
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setFamilies({ QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
        QStringLiteral("Arial"), QStringLiteral("Liberation Sans"), QStringLiteral("Nimbus Sans"),
        QStringLiteral("DejaVu Sans") });
    font.setStyleHint(QFont::SansSerif);
    font.setPointSizeF(8.25);
    font.setWeight(bold ? QFont::Bold : QFont::Normal);
    return font;
}

Form1::Form1(FormServices& services, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint)
    , m_services(services)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(kAppTitle + QStringLiteral(" v") + QString::fromLatin1(tromel::kVersionShort));
    setFont(dialogFont(false));
    setFixedSize(360, 191);
    setAcceptDrops(true);
    buildControls();
}

Form1::~Form1()
{
    // The check and the model read CvarList, which dies with this object, before the children do.
    m_check.reset();
    delete m_report;
}

void Form1::buildControls()
{
    const QFont bold = dialogFont(true);

    // Created bottom first: the banner lies under the list and the buttons.
    Picture1 = new PictureBox(this);
    Picture1->setObjectName(QStringLiteral("Picture1"));
    place(Picture1, 0, 0, 361, 273);
    Picture1->setPicture(QPixmap(QStringLiteral(":/tromel/banner.gif")));

    Label1 = makeLabel("Label1", QStringLiteral("Version:"), Picture1);
    Label2 = makeLabel("Label2", QStringLiteral("Date:"), Picture1);
    Label3 = makeLabel("Label3", QStringLiteral("Cvars:"), Picture1);
    int top = 128;
    for (QLabel* caption : { Label1, Label2, Label3 }) {
        caption->setFont(bold);
        setTextColour(caption, QColor(0xFF, 0x00, 0x00));
        place(caption, 200, top, 49, 17);
        top += 16;
    }
    Label4 = makeLabel("Label4", QStringLiteral("1"), Picture1);
    Label5 = makeLabel("Label5", QStringLiteral("25-02-2007"), Picture1);
    Label6 = makeLabel("Label6", QStringLiteral("549"), Picture1);
    top = 128;
    for (QLabel* value : { Label4, Label5, Label6 }) {
        setTextColour(value, QColor(0xC0, 0xC0, 0xC0));
        place(value, 256, top, 73, 17);
        top += 16;
    }

    Picture2 = new PictureBox(Picture1);
    Picture2->setObjectName(QStringLiteral("Picture2"));
    place(Picture2, 200, 48, 145, 17);
    Label7 = makeLabel("Label7", QStringLiteral("none"), Picture2);
    Label7->setFont(bold);
    Label7->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    place(Label7, 8, 0, 129, 17);

    List1 = new ListBox(this);
    List1->setObjectName(QStringLiteral("List1"));
    List1->setFrameStyle(QFrame::Box | QFrame::Plain);
    List1->setLineWidth(1);
    place(List1, 16, 48, 177, 132);
    List1->setSelectionMode(QAbstractItemView::SingleSelection);
    List1->setEditTriggers(QAbstractItemView::NoEditTriggers);
    List1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    List1->setTextElideMode(Qt::ElideNone);
    const int inner = List1->height() - 2 * List1->frameWidth();
    List1->setRowHeight(inner / kListRows);
    m_report = new ReportModel(CvarList, List1);
    List1->setModel(m_report);

    Command1 = new QPushButton(QStringLiteral("Parcourir"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setFont(bold);
    place(Command1, 200, 72, 145, 17);
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);

    Command2 = new QPushButton(QStringLiteral("Valider la cfg"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Command2->setFont(bold);
    place(Command2, 200, 96, 145, 17);
    Command2->setEnabled(false);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);

    setTabOrder(Command1, List1);
    setTabOrder(List1, Command2);
    setTabOrder(Command2, Picture1);
    setTabOrder(Picture1, Picture2);
    Command1->setFocus();
}

std::string Form1::listPath()
{
    namespace platform = tromel::platform;
    return platform::pathToUtf8(platform::pathFromUtf8(m_services.programDir()) / "cvars.ini");
}

bool Form1::Form_Load()
{
    if (m_services.anotherInstanceRunning()) {
        m_services.showMessage(title(": "), QStringLiteral("Program exit."));
        return false;
    }
    if (!tromel::FileExists(listPath())) {
        m_services.showMessage(title(": INI"), QStringLiteral("cvars.ini not found."));
        return false;
    }
    return LoadCvars();
}

bool Form1::LoadCvars()
{
    tromel::ListResult result = tromel::LoadCvars(listPath());
    if (!result) {
        // A malformed header, or a list that vanished or cannot be read since the check above.
        m_services.showMessage(title(": INI"), shown(result.message));
        return false;
    }
    CvarList = std::move(result.list);
    // A list without lines has neither version nor date: the design-time captions would lie.
    Label4->setText(shown(CvarList.version));
    Label5->setText(shown(CvarList.date));
    Label6->setText(QString::number(CvarList.count()));
    m_matcher = std::make_unique<tromel::Matcher>(CvarList);
    m_check = std::make_unique<ConfigCheck>(CvarList, *m_matcher);
    return true;
}

bool Form1::checking() const
{
    return m_check && m_check->running();
}

void Form1::Command1_Click()
{
    if (m_closed || checking())
        return;
    const QString chosen
        = m_services.ShowOpenFile(QStringLiteral("Choississez un fichier de configuration..."),
            QStringLiteral("Config ET (*.cfg)"), QDir::currentPath());
    openConfig(chosen.toStdString());
}

void Form1::openConfig(const std::string& path)
{
    if (m_closed || checking())
        return;
    m_report->clear();
    CfgPath = path;
    if (CfgPath.empty())
        return;
    Command2->setEnabled(true);
    Label7->setText(fileName(CfgPath));
}

void Form1::Command2_Click()
{
    if (m_closed || checking())
        return;
    if (!tromel::FileExists(CfgPath)) {
        m_services.showMessage(title(": CFG"), QStringLiteral("Cfg not found."));
        return;
    }
    CheckConfig();
}

void Form1::CheckConfig()
{
    if (!m_check)
        return;
    setBusy(true);
    m_check->start(CfgPath, m_plan,
        [this](tromel::FileStatus status, tromel::Report report) { checkDone(status, std::move(report)); });
}

void Form1::checkDone(const tromel::FileStatus& status, tromel::Report report)
{
    setBusy(false);
    switch (status.error) {
    case tromel::FileError::None:
        m_report->setReport(std::move(report));
        return;
    case tromel::FileError::Empty:
    case tromel::FileError::NoLines:
    case tromel::FileError::Cancelled:
        return; // nothing to check: the previous report stays
    case tromel::FileError::Missing:
    case tromel::FileError::NotRegular:
        m_services.showMessage(title(": CFG"), QStringLiteral("Cfg not found."));
        return;
    case tromel::FileError::OutOfMemory:
        m_services.showMessage(title(": CFG"), QStringLiteral("Report too large for memory."));
        return;
    case tromel::FileError::Unreadable:
    case tromel::FileError::Failed:
        break;
    }
    m_services.showMessage(
        title(": CFG"), fileName(CfgPath) + QStringLiteral(": ") + shown(tromel::describe(status)));
}

void Form1::setBusy(bool busy)
{
    Command1->setEnabled(!busy);
    Command2->setEnabled(!busy);
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void Form1::closeEvent(QCloseEvent* event)
{
    // Nothing may start once the window is going: a scan stops within one piece of the file.
    m_closed = true;
    if (m_check)
        m_check->stop();
    QWidget::closeEvent(event);
}

void Form1::dragEnterEvent(QDragEnterEvent* event)
{
    if (!m_closed && !checking() && !droppedFile(event->mimeData()).empty())
        event->acceptProposedAction();
}

void Form1::dropEvent(QDropEvent* event)
{
    const std::string path = droppedFile(event->mimeData());
    if (path.empty() || m_closed || checking())
        return;
    event->acceptProposedAction();
    openConfig(path);
}

} // namespace tromel::gui
