object MainForm: TMainForm
  ClientHeight = 351
  ClientWidth = 492
  OnCloseQuery = FormCloseQuery
  object TopPan: TPanel
    Width = 492
    Height = 46
    BevelInner = bvRaised
    BevelOuter = bvLowered
    Color = 16777215
    object TopLbl: TLabel
      Left = 20
      Top = 14
    end
  end
  object LftPan: TPanel
    Top = 46
    Width = 123
    Height = 301
    object LogoImg: TImage
      Width = 120
      Height = 260
    end
    object LftBvl: TBevel
      Left = 121
      Width = 2
      Height = 301
      Shape = bsLeftLine
    end
  end
  object WPan: TPanel
    Left = 123
    Top = 47
    Width = 369
    Height = 261
    object WelLbl: TLabel
      Left = 12
      Top = 27
      Width = 345
      Height = 75
      AutoSize = False
    end
    object LngLbl: TLabel
    end
    object LngBx: TComboBox
    end
  end
  object LPan: TPanel
    object LicMemo: TMemo
      Left = 12
      Top = 10
      Width = 345
      Height = 215
    end
    object LicBx: TCheckBox
      Left = 12
      Top = 235
      Width = 345
      Checked = True
    end
  end
  object DPan: TPanel
    object DstEdt: TEdit
      Left = 12
      Top = 30
      Width = 252
    end
    object BwsBtn: TButton
      Left = 266
      Top = 30
      Width = 90
      Height = 22
      OnClick = BwsClk
    end
    object PortBx: TCheckBox
      Left = 12
      Top = 80
    end
    object PortIBtn: TButton
      Top = 77
      Width = 40
      Height = 22
      Caption = '  ?  '
      OnClick = PortIClk
    end
  end
  object SPan: TPanel
    object StartLbl: TLabel
      Left = 12
      Top = 27
      Width = 345
      Height = 100
      AutoSize = False
    end
    object Inst2AllBx: TCheckBox
      Left = 12
      Top = 189
      Width = 300
    end
    object DskBx: TCheckBox
      Left = 12
      Top = 212
      Width = 300
    end
  end
  object IPan: TPanel
  end
  object FPan: TPanel
    object FinLbl: TLabel
      Left = 12
      Top = 27
      Width = 345
      Height = 150
      AutoSize = False
    end
    object FinBx: TCheckBox
      Left = 12
      Top = 190
      Width = 300
    end
  end
  object BtmBvlPan: TPanel
    Top = 306
    Width = 492
    Height = 2
    object BtmBvl: TBevel
      Left = 1
      Width = 491
      Height = 2
    end
  end
  object BtmPan: TPanel
    Top = 307
    Width = 492
    Height = 44
    object BBtn: TButton
      Left = 210
      Top = 12
      Width = 85
      Height = 22
      OnClick = BNClk
    end
    object NBtn: TButton
      Left = 295
      Top = 12
      Width = 85
      Height = 22
      Default = True
      OnClick = BNClk
    end
    object CBtn: TButton
      Left = 392
      Top = 12
      Width = 85
      Height = 22
      Cancel = True
      OnClick = CClk
    end
  end
end
