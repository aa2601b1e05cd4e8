// The least a Qt tray program does before its icon shows: an application object and a tray icon with a
// drawn image. The start-up benchmark launches it beside the application as the floor.
#include <QApplication>
#include <QPainter>
#include <QPixmap>
#include <QSystemTrayIcon>

int main(int argc, char **argv)
{
    QApplication application(argc, argv);
    QPixmap image(22, 22);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(QPen(Qt::black, 2));
        painter.drawEllipse(QRectF(3, 3, 16, 16));
    }
    QSystemTrayIcon icon{QIcon(image)};
    icon.show();
    return QApplication::exec();
}
