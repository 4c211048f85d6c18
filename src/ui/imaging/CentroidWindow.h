// The Centroid Window: the picture around the image view's mouse position,
// magnified, with the marks inside the centroid window square in green.
#pragma once

#include <QWidget>

class CImageView;

class CCentroidWindow : public QWidget {
public:
    explicit CCentroidWindow(CImageView* view);
    // Moves the window so that its bottom-left corner is the view's.
    void PlaceAtView();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    CImageView* view;
};
