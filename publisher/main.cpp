// quorvane-publish: publishes a game release on its update site.

#include "Commands.h"

#include <QCoreApplication>
#include <QDateTime>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    return publisher::runPublisher(QCoreApplication::arguments().mid(1), out, err,
                                   QDateTime::currentDateTimeUtc());
}
