#pragma once

// Loading the Ping library (libPingOCX.so) at run time and using its control through one
// typed interface. The program never links the library: it finds it by its program
// identifier, "PingOCX.Ping".
//
// Where loadPing looks, in this order, stopping at the first library that gives a control:
//   1. the component registry (componentRegistryPath(), written by the library's
//      DllRegisterServer): ProgID -> class id -> library path (a relative path is taken
//      beside the registry file);
//   2. beside the program: QCoreApplication::applicationDirPath()/lib<Library>.so, where
//      <Library> is the part of the program identifier before the first "." ("PingOCX");
//   3. the installed library folder (TARVEX_CONTROL_DIR, <prefix>/lib/<arch>/tarvex).
// For 2 and 3 the class id comes from the library's metadata (its "Classes" table, read
// without loading it). Each candidate goes through the steps: registry entry, file exists,
// metadata, load, entry point DllGetClassObject, class object, instance, class check, and
// the members PingControl needs. When every candidate fails, Loaded::error names each
// candidate and the step at which it failed; nothing crashes and nothing is thrown.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>

class QWidget;

namespace tarvex::hosting {

inline const QString PingProgId = QStringLiteral("PingOCX.Ping");

// The Ping control as the program uses it. The library's control is a widget (a small
// button face) whose other members and properties are Qt properties and invokable methods
// of its own; this object is a child of it and goes with it.
class PingControl : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    // The library's control itself: delete it to end both.
    virtual QWidget *widget() const = 0;

    // One echo request to each host, all outstanding together; the answers come as
    // echoResult, then echoesFinished. Returns the run's number, 0 when it did not start.
    virtual qint32 startEchoes(const QStringList &hosts) = 0;
    // Ends a run (0: every run) at once; false when no such run was going on.
    virtual bool cancelEchoes(qint32 run) = 0;
    // Loads stored properties (TimeOut, HostName, IPAddress, ResolveNames) without their
    // setters; false, with the reason, for a value that does not fit.
    virtual bool readProperties(const QVariantMap &bag, QString *error) = 0;

signals:
    // hosts[index] of a startEchoes run answered: what send() would answer for it.
    void echoResult(qint32 run, qint32 index, const QVariant &result);
    void echoesFinished(qint32 run);
    // A message of the control for the user ("Socket Error"); caption empty means the
    // host's own. While nothing is connected here the control shows a QMessageBox itself.
    void messageBoxRequested(const QString &text, const QString &caption);
};

// Where to look; defaultSearch() is the program's own.
struct SearchPath
{
    QString registryFile; // empty: no registry is read
    QStringList folders; // searched in order for lib<Library>.so / lib<Library>.so.*
};
SearchPath defaultSearch();

struct Loaded
{
    PingControl *ping = nullptr; // its widget is a child of the parent given (or the caller's)
    QString error; // empty on success
    QString libraryPath; // the library the control came from
    QString source; // "registry", "program folder", "installed folder" or "folder"
};

// Loads the library registered as progId and creates its control as a child of parent.
Loaded loadPing(QWidget *parent, const SearchPath &search = defaultSearch(),
                const QString &progId = PingProgId);

} // namespace tarvex::hosting
