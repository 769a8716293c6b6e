object TestForm: TTestForm
  Height = 200
  object OkBtn: TTestButton
    Left = -10
    Caption = 'OK'#233
    OnClick = OkClk
  end
end
