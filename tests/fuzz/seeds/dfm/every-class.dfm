object MainForm: TMainForm
  Left = 100
  Top = -20
  Width = 500
  Height = 380
  ClientHeight = 351
  ClientWidth = 492
  OnCloseQuery = FormCloseQuery
  object TopPan: TPanel
    BevelInner = bvRaised
    BevelOuter = bvLowered
    Color = 16777215
    object TopLbl: TLabel
      AutoSize = True
      Caption = 'Title'
    end
    object LogoImg: TImage
      Width = 120
      Height = 260
    end
  end
  object LngBx: TComboBox
    OnChange = LngChg
  end
  object LicBx: TCheckBox
    Caption = 'I accept'
    Checked = True
  end
  object LftBvl: TBevel
    Shape = bsLeftLine
  end
  object LicMemo: TMemo
  end
  object DstEdt: TEdit
  end
  object BwsBtn: TButton
    OnClick = BwsClk
  end
  object PortIBtn: TButton
    OnClick = PortIClk
  end
  object CBtn: TButton
    Cancel = True
    OnClick = CClk
  end
  object Plain: TWinControl
    object Graphic: TGraphicControl
    end
    object Custom: TCustomControl
      object ButtonBase: TButtonControl
      end
    end
  end
  object Bare: TControl
  end
  object Thing: TComponent
  end
end
