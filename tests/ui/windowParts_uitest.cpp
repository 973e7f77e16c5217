// The window's parts that need no model operation: the tree mirror over a
// document rebuilt in place (checked by Qt's model tester), the XML
// window's formatting and file reading, and the About box's build stamp.
#include "documentTreeModel.h"
#include "helpViewer.h"
#include "productInfo.h"
#include "windowPrompts.h"
#include "xmlFormat.h"
#include "xmlWindow.h"

#include "netns.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QDirIterator>
#include <QItemSelectionModel>
#include <QRegularExpression>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace {

using namespace lumivar;
using lumivarui::DocumentTreeModel;

// Qt's model tester reports through qWarning; any report fails the test.
QStringList testerReports;
void recordTester(QtMsgType, const QMessageLogContext &context, const QString &message)
{
    if (context.category != nullptr && QByteArray(context.category).startsWith("qt.modeltest"))
        testerReports.append(message);
}

std::string dumpModel(const QAbstractItemModel &model, const QModelIndex &parent = {}, int depth = 0)
{
    std::string out;
    for (int r = 0; r < model.rowCount(parent); ++r) {
        QModelIndex at = model.index(r, 0, parent);
        out += std::string(static_cast<size_t>(depth) * 2, ' ') + at.data().toString().toStdString() + "\n";
        out += dumpModel(model, at, depth + 1);
    }
    return out;
}

struct Document {
    std::mutex mutex;
    DeviceTree tree;
    DocumentTreeModel::Reader reader()
    {
        return [this](const std::function<void(const DeviceTree &)> &read) {
            std::lock_guard guard(mutex);
            read(tree);
        };
    }
};

void buildDevice(DeviceTree &tree, TreeNode &device, const std::vector<std::string> &properties)
{
    auto parts = tree.rebuildChildren(device, {{"Location", NK_LOCATION, 3}, {"Properties", NK_PROPERTIES, 3},
                                               {"Service List", NK_SERVICE_LIST, 3}});
    tree.rebuildChildren(*parts[0], {{device.key, NK_LOCATION_URL, 3, NI_ITEM}});
    std::vector<WantedChild> props;
    for (const auto &p : properties)
        props.push_back({p, NK_PROPERTY, 3, NI_ITEM});
    tree.rebuildChildren(*parts[1], props);
    auto services = tree.rebuildChildren(*parts[2], {{"urn:schemas-upnp-org:service:SwitchPower:1", NK_SERVICE, 3}});
    tree.rebuildChildren(*services[0], {{"Actions", NK_ACTIONS, 3}, {"Variables", NK_VARIABLES, 3}});
}

TEST(DocumentTreeModel, MirrorsRebuildsInPlaceAndKeepsSelection)
{
    testerReports.clear();
    QtMessageHandler previous = qInstallMessageHandler(recordTester);
    Document doc;
    DocumentTreeModel model(doc.reader());
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Warning);
    QSignalSpy expand(&model, &DocumentTreeModel::expandWanted);
    QItemSelectionModel selection(&model);

    TreeNode *a = nullptr;
    QPersistentModelIndex service;
    uint64_t serviceId = 0;
    struct Step {
        const char *name;
        std::function<void()> change;
        std::function<void()> check;
    };
    const Step steps[] = {
        {"a device appears",
         [&] {
             a = &doc.tree.appendChild(doc.tree.root(NK_ACTIVE_ROOT), {"Light", NK_DEVICE, 3, NI_DEVICE});
             a->key = "http://10.0.0.5/desc.xml";
             buildDevice(doc.tree, *a, {"friendlyName", "UDN"});
             doc.tree.root(NK_ACTIVE_ROOT).expanded = true;
         },
         [&] {
             serviceId = a->child("Service List")->children.front()->id;
             service = model.indexOfId(serviceId);
             ASSERT_TRUE(service.isValid());
             selection.setCurrentIndex(service, QItemSelectionModel::SelectCurrent);
             ASSERT_FALSE(expand.isEmpty());
             EXPECT_EQ(model.idAt(expand.takeLast().at(0).value<QList<QModelIndex>>().value(0)),
                       doc.tree.root(NK_ACTIVE_ROOT).id);
         }},
        {"its children are rebuilt: one property goes, one comes",
         [&] { buildDevice(doc.tree, *a, {"friendlyName", "manufacturer"}); },
         [&] {
             ASSERT_TRUE(service.isValid()); // the survivor keeps its index and selection
             EXPECT_EQ(model.idAt(service), serviceId);
             EXPECT_EQ(selection.currentIndex(), QModelIndex(service));
             EXPECT_TRUE(expand.isEmpty()); // no new expansion: the root was expanded already
         }},
        {"a second device comes, the first moves to Filtered Devices",
         [&] {
             TreeNode &b = doc.tree.appendChild(doc.tree.root(NK_ACTIVE_ROOT), {"Renderer", NK_DEVICE, 4, NI_DEVICE});
             b.key = "http://10.0.0.6/desc.xml";
             buildDevice(doc.tree, b, {"friendlyName"});
             doc.tree.removeNode(*a);
             a = &doc.tree.appendChild(doc.tree.root(NK_FILTERED_ROOT),
                                       {"http://10.0.0.5/desc.xml", NK_DEVICE, 16, NI_DEVICE});
         },
         [&] { EXPECT_FALSE(service.isValid()); }},
        {"everything goes", [&] {
             for (const auto &root : doc.tree.roots())
                 doc.tree.rebuildChildren(*root, {});
         },
         [] {}},
    };
    for (const Step &step : steps) {
        SCOPED_TRACE(step.name);
        {
            std::lock_guard guard(doc.mutex);
            step.change();
        }
        model.sync();
        std::lock_guard guard(doc.mutex);
        EXPECT_EQ(dumpModel(model), doc.tree.dump());
        step.check();
    }
    qInstallMessageHandler(previous);
    EXPECT_TRUE(testerReports.isEmpty()) << testerReports.join(QLatin1Char('\n')).toStdString();
}

QByteArray readData(const std::string &relative)
{
    QFile file(QString::fromStdString(qntest::dataPath(relative)));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << relative;
    return file.readAll();
}

// Element names and texts in document order: what indenting must keep.
QStringList contentOf(const QByteArray &xml)
{
    QStringList out;
    QXmlStreamReader in(xml);
    while (!in.atEnd()) {
        in.readNext();
        if (in.isStartElement())
            out.append(QStringLiteral("<") + in.qualifiedName().toString());
        else if (in.isCharacters() && !in.isWhitespace())
            out.append(in.text().toString());
    }
    EXPECT_FALSE(in.hasError()) << in.errorString().toStdString();
    return out;
}

TEST(XmlWindow, IndentsDescriptionsAndReadsLoadedFiles)
{
    const char *descriptions[] = {"fixtures/scpd/AVTransport2.xml", "fixtures/scpd/ContentDirectory.xml"};
    for (const char *relative : descriptions) {
        SCOPED_TRACE(relative);
        QByteArray original = readData(relative);
        QString indented, error;
        ASSERT_TRUE(lumivarui::indentXml(original, indented, error)) << error.toStdString();
        EXPECT_EQ(contentOf(indented.toUtf8()), contentOf(original));
        EXPECT_TRUE(indented.contains(QStringLiteral("\n  <"))) << "indented two blanks per level";
        EXPECT_EQ(lumivarui::classifyDocument(original, QStringLiteral("text/xml")), lumivarui::DocumentKind::XML);
    }
    QString out, error;
    EXPECT_FALSE(lumivarui::indentXml("<root>\n<a></root>", out, error));
    EXPECT_TRUE(error.contains(QStringLiteral("line 2"))) << error.toStdString();

    struct Kind {
        const char *body;
        const char *contentType;
        lumivarui::DocumentKind kind;
    };
    const Kind kinds[] = {
        {"<html><body>Hi</body></html>", "", lumivarui::DocumentKind::HTML},
        {"  <!DOCTYPE html><p>x", "application/octet-stream", lumivarui::DocumentKind::HTML},
        {"<?xml version=\"1.0\"?><root/>", "text/html; charset=utf-8", lumivarui::DocumentKind::HTML},
        {"<?xml version=\"1.0\"?><root><a/></root>", "", lumivarui::DocumentKind::XML},
        {"no markup at all", "", lumivarui::DocumentKind::TEXT},
    };
    for (const Kind &k : kinds)
        EXPECT_EQ(lumivarui::classifyDocument(k.body, QString::fromLatin1(k.contentType)), k.kind) << k.body;

    // A loaded description is read from its "file://" location.
    QNetworkAccessManager network;
    lumivarui::XmlWindow window(network);
    QSignalSpy loaded(&window, &lumivarui::XmlWindow::loaded);
    std::string path = qntest::dataPath("fixtures/scpd/ConnectionManager.xml");
    window.navigate(QString::fromStdString("file://" + path));
    ASSERT_EQ(loaded.size(), 1);
    EXPECT_TRUE(loaded.at(0).at(0).toBool());
    EXPECT_TRUE(window.shownText().contains(QStringLiteral("<name>GetProtocolInfo</name>")));
    window.navigate(QStringLiteral("file:///nonexistent/desc.xml"));
    ASSERT_EQ(loaded.size(), 2);
    EXPECT_FALSE(loaded.at(1).at(0).toBool());
    EXPECT_TRUE(window.shownText().contains(QStringLiteral("could not be shown")));
    EXPECT_EQ(lumivarui::localPathOf(QStringLiteral("file://localhost/tmp/a.xml")), QStringLiteral("/tmp/a.xml"));
    EXPECT_EQ(lumivarui::localPathOf(QStringLiteral("http://10.0.0.5/a.xml")), QString());
}

// An operation on a worker thread stops with a message: the box comes up
// on the window thread, and the worker waits for it as for a modal box.
TEST(WindowPrompts, MessageFromAWorkerIsShownOnTheWindowThread)
{
    lumivarui::WindowPrompts prompts;
    std::atomic<bool> returned{false};
    // The box runs its own event loop: it is read and closed from there.
    std::string shown;
    bool onWindowThread = false, workerWaited = false;
    QTimer poll;
    poll.setInterval(20);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            shown = box->text().toStdString();
            onWindowThread = QThread::currentThread() == QApplication::instance()->thread();
            workerWaited = !returned.load();
            box->accept();
        }
    });
    poll.start();
    std::thread worker([&] {
        prompts.messageBox("Please select an action first!");
        returned = true;
    });
    bool done = QTest::qWaitFor([&] { return returned.load(); }, 5000);
    if (!done)
        worker.detach(); // stuck: fail rather than hang
    else
        worker.join();
    ASSERT_TRUE(done);
    EXPECT_EQ(shown, "Please select an action first!");
    EXPECT_TRUE(onWindowThread);
    EXPECT_TRUE(workerWaited);
    // Only the filters before the double bar are offered.
    EXPECT_EQ(lumivarui::fileDialogFilter("All Files (*.*)|*.*||XML Files (*.xml)|*.xml").toStdString(),
              "All Files (*.*)");
    EXPECT_EQ(lumivarui::fileDialogFilter("XML (*.xml)|*.xml|All (*)|*").toStdString(), "XML (*.xml);;All (*)");
}

// "&Contents" and "&Index..." open pages that exist, and no page of the
// help links to one that does not.
TEST(HelpViewer, PagesAndTheirLinksExist)
{
    lumivarui::HelpViewer viewer;
    EXPECT_TRUE(viewer.showPage(QString::fromLatin1(lumivarui::kHelpContentsPage)));
    EXPECT_TRUE(viewer.showPage(QString::fromLatin1(lumivarui::kHelpIndexPage)));
    EXPECT_FALSE(viewer.showPage(QStringLiteral("missing.html")));
    QDir help(lumivarui::helpDirectory());
    QRegularExpression link(QStringLiteral("href=\"([^\"#:]+)"));
    int pages = 0;
    for (QDirIterator it(help.path(), {QStringLiteral("*.html")}); it.hasNext();) {
        QFile page(it.next());
        ASSERT_TRUE(page.open(QIODevice::ReadOnly));
        ++pages;
        for (auto m = link.globalMatch(QString::fromUtf8(page.readAll())); m.hasNext();) {
            QString target = m.next().captured(1);
            EXPECT_TRUE(help.exists(target)) << page.fileName().toStdString() << " -> " << target.toStdString();
        }
    }
    EXPECT_GE(pages, 2);
}

TEST(AboutBox, BuildStampFromTheCompilerDate)
{
    const std::pair<const char *, const char *> cases[] = {
        {"Dec  9 2026", " Build 261209"}, {"Jan 31 1999", " Build 990131"}, {"Feb 29 2000", " Build 000229"},
        {"Foo  9 2026", ""},             {"Dec 9 2026", ""},               {"", ""},
    };
    for (const auto &[date, stamp] : cases)
        EXPECT_EQ(lumivarui::buildStamp(date), stamp) << date;
}

} // namespace
