object MainForm: TMainForm
  ClientHeight = 351
  Left = -10
  Top = -300
  Width = 70000
  OnCloseQuery = FormCloseQuery
  object NBtn: TButton
    Caption = 'It''s'#13#10 +
      'two lines'#233
    Default = True
    Cancel = false
    OnClick = BNClk
  end
  object LngBx: TComboBox
    OnChange = nil
  end
  object P: TPanel
    BevelInner = bvRaised
    object Inner: TLabel
      AutoSize = False
      Caption = ''
    end
  end
end
