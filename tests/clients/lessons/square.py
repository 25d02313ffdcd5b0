# A square with a colour per side, and its corners marked.
import kelpmoor.turtle as turtle

t = turtle.Turtle()
t.pensize(3)
for colour in ["red", "green", "blue", "yellow"]:
    t.pencolor(colour)
    t.forward(150)
    t.left(90)
turtle.done()
