// The main dialog's list of the chosen image's partitions (control 1009): loaded on a thread
// over the library's folder rules, drawn by the program, one row per partition, with a mark
// that assigns a row a drive letter.
#pragma once
#include <windows.h>
// After windows.h.
#include <commctrl.h>

#include <string>
#include <vector>

#include "drive_assignment.h"
#include "partition_list.h"

class RestoreUserInterface;

class CDriveImageList {
 public:
  // Takes the free letters D to Z now; they are never looked at again.
  CDriveImageList();
  ~CDriveImageList();
  CDriveImageList(const CDriveImageList&) = delete;
  CDriveImageList& operator=(const CDriveImageList&) = delete;

  // The list view of the dialog; ui asks for passwords and shows refusals.
  void Attach(HWND list, RestoreUserInterface& ui);
  void SetUpColumns();
  void SetFolder(std::string folder) { folder_ = std::move(folder); }
  const std::string& Folder() const { return folder_; }
  // Replaces the rows with the partitions of chosenPath's backup. The loader's messages are
  // shown; false when the list stays empty.
  bool Load(const std::string& chosenPath);
  void SelectFirstRow();
  void SizeColumns();

  int RowCount() const;
  // The partition of the list's selection mark; null when there is none.
  const ImagePartition* CurrentPartition() const;
  std::vector<ImageSet>& Sets() { return listing_.Sets; }

  // From the dialog's procedure: owner drawing and the list's notifications.
  void DrawRow(const DRAWITEMSTRUCT& item);
  bool OnNotify(const NMHDR& header, INT_PTR& result);

 private:
  static LRESULT CALLBACK ListProcedure(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  static LRESULT CALLBACK LetterBoxProcedure(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  void ToggleMark(int row);
  void OpenLetterBox(int row);
  void CloseLetterBox(bool report);
  void PaintBackground(HDC dc);
  int RowHeight() const;
  CImageFile* MutableImage(const CImageFile* image);

  HWND list_ = nullptr;
  HWND letterBox_ = nullptr;
  int letterBoxRow_ = -1;
  RestoreUserInterface* ui_ = nullptr;
  HIMAGELIST pictures_ = nullptr;
  FreeLetters freeLetters_{};
  std::vector<unsigned> freeDevices_;
  std::string folder_;
  FolderListing listing_;
  std::vector<bool> marks_;
};
