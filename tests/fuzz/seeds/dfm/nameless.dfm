object TForm
  Font.Height = -11
end
