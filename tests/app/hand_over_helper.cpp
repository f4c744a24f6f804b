// A second start, reduced to its claim: hand_over_helper DATA_FOLDER [ARGUMENT...]. Exits 0
// when the running recorder took the command line, 3 when this would be the first, 4 when
// nobody answered, 5 when no socket could be made.
#include "recorder/app/single_instance.h"

#include <QCoreApplication>
#include <QFile>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    kelvo::SingleInstance instance(kelvo::SingleInstance::serverName(QFile::decodeName(argv[1])));
    switch (instance.claim({argv + 2, argv + argc}, kelvo::SingleInstance::workingFolder())) {
    case kelvo::SingleInstance::Claim::HandedOver:
        return 0;
    case kelvo::SingleInstance::Claim::First:
        return 3;
    case kelvo::SingleInstance::Claim::NoAnswer:
        return 4;
    case kelvo::SingleInstance::Claim::Unavailable:
        return 5;
    }
    return 6;
}
