object GuiForm: TGuiForm
  ClientHeight = 200
  ClientWidth = 300
  OnCloseQuery = FormCloseQuery
  object Pan: TPanel
    Left = 10
    Top = 10
    Width = 280
    Height = 120
    BevelInner = bvRaised
    BevelOuter = bvLowered
    Color = 16777215
    object Lbl: TLabel
      Left = 8
      Top = 8
      Caption = 'Nom du dossier'
    end
    object Edt: TEdit
      Left = 8
      Top = 30
      Width = 200
    end
    object Box: TCheckBox
      Left = 8
      Top = 64
      Width = 150
      Caption = 'Copie &portable'
    end
    object Bvl: TBevel
      Left = 8
      Top = 90
      Width = 200
      Height = 2
    end
  end
  object OkBtn: TButton
    Left = 120
    Top = 160
    Width = 80
    Height = 24
    Caption = 'OK'
    Default = True
    OnClick = OkClk
  end
  object CancelBtn: TButton
    Left = 210
    Top = 160
    Width = 80
    Height = 24
    Caption = 'Annuler'
    Cancel = True
    OnClick = CancelClk
  end
end
