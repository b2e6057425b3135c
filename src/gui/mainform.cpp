#include "gui/mainform.h"

#include "gui/sourcerows.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QLibraryInfo>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QToolButton>
#include <QTranslator>
#include <QVBoxLayout>

#include <algorithm>

namespace {

struct ButtonPlace {
    const char* name;
    int left, top, width, height;
    const char* operationId; // the operation's title is the caption
};

// The upper row converts, the lower row empties the tables that the conversion above it fills. A program
// shows the buttons of the operations it has: v67convert the V6 and V7 product buttons, v1convert the V1 one.
const ButtonPlace kButtons[] = {
    {"CkdaBitBtn", 5, 14, 79, 25, "warehouses"},
    {"CkBitBtn", 5, 39, 79, 23, "clear-warehouses"},
    {"BitBtn5", 93, 15, 79, 25, "goods-areas"},
    {"BitBtn7", 93, 40, 79, 23, "clear-goods-areas"},
    {"gysBitBtn4", 176, 15, 79, 25, "suppliers"},
    {"BitBtn6", 175, 40, 79, 23, "clear-suppliers"},
    {"splbBitBtn5", 256, 15, 79, 25, "categories"},
    {"BitBtn1", 256, 40, 79, 23, "clear-categories"},
    {"spdaBitBtnV6", 344, 15, 65, 25, "products-v6"},
    {"spdaBitBtnV7", 408, 15, 65, 25, "products-v7"},
    {"spdaBitBtnV1", 344, 15, 129, 25, "products"},
    {"BitBtn3", 344, 40, 129, 23, "clear-products"},
    {"BitBtn8", 480, 15, 90, 25, "stock"},
    {"BitBtn9", 480, 40, 90, 23, "clear-stock"},
    {"hydaBitBtn7", 584, 15, 90, 25, "members"},
    {"BitBtn4", 584, 40, 90, 23, "clear-members"},
};

// Keyboard order of the button strip; buttons the program lacks are left out.
const char* const kButtonTabOrder[] = {
    "spdaBitBtnV6", "gysBitBtn4", "splbBitBtn5", "BitBtn6", "hydaBitBtn7",  "BitBtn1",      "BitBtn3",    "BitBtn4",
    "BitBtn5",      "BitBtn7",    "BitBtn8",     "BitBtn9", "spdaBitBtnV7", "spdaBitBtnV1", "CkdaBitBtn", "CkBitBtn",
};

QFrame* panel(const char* name, QWidget* parent)
{
    auto* p = new QFrame(parent);
    p->setObjectName(QString::fromLatin1(name));
    p->setFrameStyle(QFrame::Panel | QFrame::Raised);
    p->setLineWidth(1);
    return p;
}

} // namespace

TmainForm::TmainForm(const shell::Catalog& catalog, shell::Family family, QString programFolder, QWidget* parent)
    : TmainForm(catalog, family, shell::linkFolder(programFolder), parent)
{
}

TmainForm::TmainForm(const shell::Catalog& catalog, shell::Family family, const shell::LinkFolder& links,
                     QWidget* parent)
    : QWidget(parent), m_catalog(catalog), m_family(family), m_sourceUdl(links.sourceUdl()),
      m_targetUdl(links.targetUdl()), m_frame(*this, m_sourceUdl, m_targetUdl)
{
    setObjectName(QStringLiteral("mainForm"));
    setWindowTitle(family == shell::Family::V67 ? QStringLiteral("BelmireV6 V7系统数据导入“Quorvan” V9")
                                                : QStringLiteral("BelmireV1系统数据导入“Quorvan” V9"));
    setFont(programFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);

    buildTopStrip();
    buildMiddleBand();
    buildButtonStrip();

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_panel2);
    layout->addWidget(m_splitter1, 1);
    layout->addWidget(m_panel1);
    arrangeTabOrder();

    // Client area 714 x 391: with the usual frame and title bar the window is 722 x 418. It may grow, not shrink:
    // the button rows have fixed places.
    move(57, 187);
    resize(714, 391);
    setMinimumSize(714, 391);

    // An installed program reads its data-link files from the user's configuration folder: say which.
    if (!links.inProgramFolder)
        appendLog(QStringLiteral("数据库连接文件目录：") + links.readFrom);
}

TmainForm::~TmainForm() = default;

QFont TmainForm::programFont()
{
    // "宋体" where it exists; otherwise the first installed Chinese font, so that every caption shows.
    QStringList families{QStringLiteral("宋体"), QStringLiteral("SimSun"), QStringLiteral("NSimSun")};
    const QStringList fallbacks{QStringLiteral("WenQuanYi Zen Hei"), QStringLiteral("WenQuanYi Micro Hei"),
                                QStringLiteral("Noto Sans CJK SC"),  QStringLiteral("Noto Serif CJK SC"),
                                QStringLiteral("AR PL UMing CN"),    QStringLiteral("Droid Sans Fallback")};
    const QStringList installed = QFontDatabase::families();
    for (const QString& f : fallbacks)
        if (installed.contains(f, Qt::CaseInsensitive))
            families << f;
    QFont font(families.first());
    font.setFamilies(families);
    font.setPixelSize(12);
    font.setWeight(QFont::Normal);
    return font;
}

bool TmainForm::installQtTranslations(QCoreApplication& app)
{
    // Qt's own dialogs (file dialog, standard buttons) speak the program's language.
    auto* qtbase = new QTranslator(&app);
    if (!qtbase->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtbase;
        return false;
    }
    app.installTranslator(qtbase);
    return true;
}

void TmainForm::buildTopStrip()
{
    m_panel2 = panel("Panel2", this);
    m_panel2->setFixedHeight(41);

    // Wide enough for the longest progress line, short of the abort box.
    m_xxLabel = new QLabel(QStringLiteral("信息"), m_panel2);
    m_xxLabel->setObjectName(QStringLiteral("xxLabel"));
    m_xxLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_xxLabel->setGeometry(48, 16, 268, 17);

    m_checkBox1 = new QCheckBox(QStringLiteral("中断"), m_panel2);
    m_checkBox1->setObjectName(QStringLiteral("CheckBox1"));
    m_checkBox1->setGeometry(320, 16, 97, 17);

    m_bitBtn2 = new QPushButton(QStringLiteral("退出"), m_panel2);
    m_bitBtn2->setObjectName(QStringLiteral("BitBtn2"));
    m_bitBtn2->setGeometry(472, 8, 75, 25);
    connect(m_bitBtn2, &QPushButton::clicked, this, &TmainForm::BitBtn2Click);

    m_checkBitBtn = new QPushButton(QStringLiteral("检查"), m_panel2);
    m_checkBitBtn->setObjectName(QStringLiteral("CheckBitBtn"));
    m_checkBitBtn->setGeometry(552, 8, 75, 25);
    connect(m_checkBitBtn, &QPushButton::clicked, this, &TmainForm::CheckBitBtnClick);

    m_linkBitBtn = new QPushButton(QStringLiteral("连接设置"), m_panel2);
    m_linkBitBtn->setObjectName(QStringLiteral("LinkBitBtn"));
    m_linkBitBtn->setGeometry(632, 8, 75, 25);
    connect(m_linkBitBtn, &QPushButton::clicked, this, &TmainForm::LinkBitBtnClick);
}

void TmainForm::buildMiddleBand()
{
    m_splitter1 = new QSplitter(Qt::Horizontal, this);
    m_splitter1->setObjectName(QStringLiteral("Splitter1"));
    m_splitter1->setHandleWidth(5);
    m_splitter1->setChildrenCollapsible(false);
    m_splitter1->setStyleSheet(QStringLiteral("QSplitter::handle { background-color: palette(highlight); }"));

    m_rows = new gui::SourceRowsModel(m_sourceUdl, this);
    m_grid = new QTableView(m_splitter1);
    m_grid->setObjectName(QStringLiteral("DBGridEh1"));
    m_grid->setModel(m_rows);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->verticalHeader()->setDefaultSectionSize(18);
    m_grid->setStyleSheet(QStringLiteral("QTableView { gridline-color: green; selection-background-color: "
                                         "palette(highlight); selection-color: white; }"));

    m_panel3 = panel("Panel3", m_splitter1);
    auto* log = new QVBoxLayout(m_panel3);
    log->setContentsMargins(1, 1, 1, 1);
    log->setSpacing(0);
    auto* title = new QLabel(QStringLiteral("异常信息"), m_panel3);
    title->setObjectName(QStringLiteral("Panel4"));
    title->setFrameStyle(QFrame::Panel | QFrame::Raised);
    title->setAlignment(Qt::AlignCenter);
    title->setFixedHeight(16);
    // Beside the caption, so that no fixed control moves.
    m_saveLogBtn = new QToolButton(m_panel3);
    m_saveLogBtn->setObjectName(QStringLiteral("SaveLogBtn"));
    m_saveLogBtn->setText(QStringLiteral("保存日志"));
    m_saveLogBtn->setAutoRaise(true);
    m_saveLogBtn->setFixedHeight(16);
    connect(m_saveLogBtn, &QToolButton::clicked, this, &TmainForm::SaveLogBtnClick);
    auto* caption = new QHBoxLayout;
    caption->setContentsMargins(0, 0, 0, 0);
    caption->setSpacing(0);
    caption->addWidget(title, 1);
    caption->addWidget(m_saveLogBtn);
    m_memo1 = new QPlainTextEdit(m_panel3);
    m_memo1->setObjectName(QStringLiteral("Memo1"));
    m_memo1->setReadOnly(true);
    m_memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    log->addLayout(caption);
    log->addWidget(m_memo1, 1);

    m_splitter1->addWidget(m_grid);
    m_splitter1->addWidget(m_panel3);
    // A larger window widens the grid and the log region alike; both grow taller.
    m_splitter1->setStretchFactor(0, 1);
    m_splitter1->setStretchFactor(1, 1);
    m_splitter1->setSizes({529, 180});
}

void TmainForm::buildButtonStrip()
{
    m_panel1 = panel("Panel1", this);
    m_panel1->setFixedHeight(69);
    const QList<shell::Operation>& operations = m_catalog.operations(m_family);
    for (const ButtonPlace& b : kButtons) {
        const QString id = QString::fromLatin1(b.operationId);
        const auto op =
            std::find_if(operations.begin(), operations.end(), [&](const shell::Operation& o) { return o.id == id; });
        if (op == operations.end())
            continue;
        auto* button = new QPushButton(op->title, m_panel1);
        button->setObjectName(QString::fromLatin1(b.name));
        button->setGeometry(b.left, b.top, b.width, b.height);
        button->setEnabled(m_catalog.find(m_family, id) != nullptr);
        connect(button, &QPushButton::clicked, this, [this, id] { runOperation(id); });
        m_operationButtons.append({button, id});
    }
}

void TmainForm::arrangeTabOrder()
{
    QList<QWidget*> chain;
    for (const char* name : kButtonTabOrder)
        if (auto* b = m_panel1->findChild<QPushButton*>(QString::fromLatin1(name), Qt::FindDirectChildrenOnly))
            chain << b;
    chain << m_grid << m_checkBox1 << m_bitBtn2 << m_memo1 << m_saveLogBtn << m_checkBitBtn << m_linkBitBtn;
    for (qsizetype i = 1; i < chain.size(); ++i)
        QWidget::setTabOrder(chain[i - 1], chain[i]);
}
