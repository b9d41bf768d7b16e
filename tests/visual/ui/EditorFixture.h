#pragma once

#include "config/CfgTemplate.h"
#include "support/QtPrinters.h"
#include "support/RecordingDialogs.h"
#include "support/TempDir.h"
#include "visual/ui/VisualEditor.h"

#include <gtest/gtest.h>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QTreeWidget>
#include <QWidget>
#include <memory>

// The controls of the Phone Configuration page and the template bar, laid out as the window
// lays them out, offscreen.
struct EditorControls {
    EditorControls();
    VisualEditorControls controls() const;

    QWidget window;
    QWidget* bar;
    QWidget* page;
    QLabel* visualDevImg;
    QLabel* reactFloatImage;
    QLabel* selectedFloatImage;
    QTreeWidget* tree;
    QScrollArea* box;
    QComboBox* models;
    QPushButton* loadButton;
    QPushButton* saveButton;
    QPushButton* saveAsButton;
};

// A small model library in a temporary working directory: models "T1" and "T2" and the
// default set, each with an outline, pages, a picture map with images and a template.
void WriteTestLibrary(const TempDir& dir);
// A PNG of the given size and colour.
void WritePng(const QString& path, int width, int height, Qt::GlobalColor color);

class EditorTest : public ::testing::Test {
  protected:
    EditorTest();
    // The generated control of the given kind whose top-left corner is at (x, y).
    template <typename T>
    T* controlAt(int x, int y) const;
    QWidget* widgetAt(int x, int y) const;
    // Selects the outline node with the absolute index.
    void selectNode(int node);

    TempDir dir;
    RecordingDialogs dialogs;
    CfgTemplate tpl;
    EditorControls ui;
    std::unique_ptr<VisualEditor> editor;
};

template <typename T>
T* EditorTest::controlAt(int x, int y) const {
    return qobject_cast<T*>(widgetAt(x, y));
}
